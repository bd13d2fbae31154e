// Result codes and versions in words, one line each: for the command line's
// messages and the update history alike. The code itself stays in brackets
// after the words, for support.
#pragma once

#include <cstdint>
#include <string>

// A result in the one table's words (log/Result.h), its code after them:
// "no answer from the device (-20)".
std::string LineCause(int code);

// 352 -> "3.52"
std::string VersionText(uint32_t versionNumber);
