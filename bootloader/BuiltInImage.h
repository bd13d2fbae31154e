// The firmware this build carries: generated at build time from
// firmware/R7F-3-52.txt (made by mkfirmware) by firmware/EmbedTIText.cmake.
#pragma once

#include <cstdint>

extern const char kBuiltInImageText[];      // compact image text, NUL-terminated
extern const uint32_t kBuiltInImageLength;  // characters of image text
extern const uint32_t kBuiltInVectors[16];  // 0xFFE0 first

inline constexpr const char* kBuiltInTargetName = "Series 7F 3.52";
inline constexpr int8_t kBuiltInTargetType = 12;  // R7F in the device-type table
inline constexpr int kBuiltInImageVersion = 352;
