// Settings of an instrument (as opposed to a logger), collected before a
// firmware update and written back after it. Field sizes are the devices' own
// limits.
#pragma once

#include <cstdint>

constexpr int kInstSnSize = 16;      // 15 characters and NUL
constexpr int kInstConfigSize = 32;
constexpr int kInstValsSize = 64;    // fvals, uvals
constexpr int kInstAdcSize = 17;
constexpr int kInstAdcCalSize = 64;

struct InstrumentInfo {
    uint32_t valid = 0;   // inst_mask bits of the settings held
    int8_t type = 0;      // device type whose settings these are
    char sn[kInstSnSize] = {};
    int32_t lang = 0;
    int32_t contr = 0;
    int32_t units = 0;
    int32_t interval = 0;
    char config[kInstConfigSize] = {};
    char fvals[kInstValsSize] = {};
    char uvals[kInstValsSize] = {};
    char adc[kInstAdcSize] = {};
    char adccal[kInstAdcCalSize] = {};
};

// Bits of InstrumentInfo::valid.
namespace inst_mask {
constexpr uint32_t kSn = 0x2;
constexpr uint32_t kType = 0x4;
constexpr uint32_t kLang = 0x8;
constexpr uint32_t kContr = 0x10;
constexpr uint32_t kFvals = 0x20;
constexpr uint32_t kUvals = 0x40;
constexpr uint32_t kUnits = 0x80;
constexpr uint32_t kAdc = 0x100;
constexpr uint32_t kInterval = 0x200;
constexpr uint32_t kAdcCal = 0x400;
constexpr uint32_t kConfig = 0x800;
}  // namespace inst_mask

