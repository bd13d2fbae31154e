// The firmware this build carries: generated at build time by
// firmware/EmbedTIText.cmake from the maker's file (KELO_BUILTIN_IMAGE) or
// from the demonstration image firmware/R7F-3-52.txt (made by mkfirmware).
#pragma once

#include <cstdint>

#include "BuiltInImageTarget.h"

extern const char kBuiltInImageText[];      // compact image text, NUL-terminated
extern const uint32_t kBuiltInImageLength;  // characters of image text
extern const uint32_t kBuiltInVectors[16];  // 0xFFE0 first

