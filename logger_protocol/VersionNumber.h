// Firmware versions as the devices write them ("3.52", "2.1") and as the
// program carries them (352, 210).
#pragma once

#include <cstdint>

// Larger majors are not versions but noise on the line; the bound keeps
// major * 100 + minor * 10 + patch far inside 32 bits.
constexpr int32_t kMaxVersionMajor = 9999;

// Reads a version at text the way "%d.%1d%1d" would (blanks before each
// number skipped) and returns how many of major, minor and patch it read (0
// to 3). With at least major and minor, *number becomes major * 100 + minor *
// 10 + patch (a missing patch counts 0). A major with a sign, or above
// kMaxVersionMajor, reads as nothing at all: it can neither overflow nor pass
// for a supported version.
int ScanVersion(const char* text, int32_t* number);
