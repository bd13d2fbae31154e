#include "DeviceTypes.h"

#include <cctype>
#include <cstring>

namespace {

using R = SupportRule;

// clang-format off
const DeviceTypeRow kRows[kDeviceTypeCount] = {
    //  word        display name          save   erase  warn   batt   login  time   post   wait  rule       above
    {"UNKNOWN",  "UNKNOWN",           false, false, false, false, false, false, false,    0, R::Never,    0},
    {"QX7",      "Qx7",               true,  false, true,  true,  false, true,  true,  1000, R::Never,    0},
    {"QX7B",     "Qx7b",              true,  false, true,  true,  false, true,  true,  1000, R::Always,   0},
    {"QX70",     "Qx70",              true,  true,  true,  true,  false, true,  true,  6000, R::Above,  102},
    {"KS",       "HubTerminal",       true,  true,  true,  true,  false, false, true,  6000, R::Above,  104},
    {"LC",       "LinkCenter",        true,  true,  true,  false, false, false, true,  4000, R::Never,    0},
    {"TELSO",    "Hydrova Lite",      true,  false, false, false, true,  false, false, 8500, R::Above,  117},
    {"JV",       "JT5 Pro",           true,  true,  true,  true,  false, true,  false, 7000, R::Always,   0},
    {"WN30",     "Lumetra WN-30",     true,  true,  true,  true,  false, true,  false, 2000, R::Never,    0},
    {"WN",       "Canopy Meter",      true,  true,  true,  true,  false, true,  false, 7000, R::Always,   0},
    {"NIVRA-TE", "NIVRA-TE",          false, false, false, false, false, false, false, 1000, R::Always,   0},
    {"MERV",     "Moistra IG",        true,  true,  true,  false, false, true,  false, 2000, R::Always,   0},
    {"R7F",      "Hydrova Series 3",  true,  false, false, false, true,  false, false, 2000, R::Above,  350},
};
// clang-format on

}  // namespace

const DeviceTypeRow& DeviceTypeInfo(int type)
{
    if (type < 0 || type >= kDeviceTypeCount)
        return kRows[0];
    return kRows[type];
}

const char* DeviceTypeName(int type) { return DeviceTypeInfo(type).displayName; }

const char* DeviceTypeModelWord(int type) { return DeviceTypeInfo(type).modelWord; }

int DeviceTypeFromWord(const char* word)
{
    if (!word)
        return 0;
    char upper[32];
    std::size_t i = 0;
    for (; word[i] && i < sizeof(upper) - 1; ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[i])));
    if (word[i])
        return 0;  // longer than any model word
    upper[i] = '\0';
    for (int type = 1; type < kDeviceTypeCount; ++type) {
        if (std::strcmp(upper, kRows[type].modelWord) == 0)
            return type;
    }
    return 0;
}

bool DeviceTypeSupports(int type, uint32_t versionNumber)
{
    if (type <= 0 || type >= kDeviceTypeCount)
        return false;
    const DeviceTypeRow& row = kRows[type];
    switch (row.rule) {
    case SupportRule::Always:
        return true;
    case SupportRule::Above:
        return versionNumber > row.minAbove;
    case SupportRule::Never:
        break;
    }
    return false;
}

bool IsLoggerType(int type)
{
    return type == device_type::kQx7b || type == device_type::kQx70 ||
           type == device_type::kHubTerminal;
}

bool IsInstrumentType(int type)
{
    return type == device_type::kHydrovaLite || type == device_type::kJT5Pro ||
           type == device_type::kCanopyMeter || type == device_type::kMoistraIG ||
           type == device_type::kHydrovaSeries3;
}
