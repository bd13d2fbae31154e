// The device-type table: every device this updater knows, what an update does
// with it, and which firmware versions it may replace. DeviceIdentity is what
// identifying a device from its version line yields.
#pragma once

#include <cstdint>

constexpr int kDeviceTypeCount = 13;  // rows 0 .. 12
constexpr int kDisplayNameSize = 33;
constexpr int kVersionTextSize = 22;

// Device type numbers (rows of the table).
namespace device_type {
constexpr int8_t kUnknown = 0;
constexpr int8_t kQx7 = 1;
constexpr int8_t kQx7b = 2;
constexpr int8_t kQx70 = 3;
constexpr int8_t kHubTerminal = 4;
constexpr int8_t kLinkCenter = 5;
constexpr int8_t kHydrovaLite = 6;
constexpr int8_t kJT5Pro = 7;
constexpr int8_t kLumetraWN30 = 8;
constexpr int8_t kCanopyMeter = 9;
constexpr int8_t kNivraTE = 10;
constexpr int8_t kMoistraIG = 11;
constexpr int8_t kHydrovaSeries3 = 12;
}  // namespace device_type

// Which firmware versions of a type this build may update.
enum class SupportRule : uint8_t { Never, Always, Above };

struct DeviceTypeRow {
    const char* modelWord;     // first word of the version line, upper case
    const char* displayName;
    bool saveSettings;
    bool eraseData;
    bool storedDataWarning;    // an update erases the stored measurements
    bool checkBattery;
    bool privilegedLogin;
    bool setTime;
    bool postInit;
    uint32_t restartWaitMs;
    SupportRule rule;
    uint32_t minAbove;         // SupportRule::Above: version must be above this
};

struct DeviceIdentity {
    int8_t type = 0;
    char displayName[kDisplayNameSize] = {};
    char versionText[kVersionTextSize] = {};
    uint32_t versionNumber = 0;   // major*100 + minor*10 + patch
    uint32_t restartWaitMs = 0;
    bool saveSettings = false;
    bool eraseData = false;
    bool checkBattery = false;
    bool privilegedLogin = false;
    bool setTime = false;
    bool supported = false;
    bool postInit = false;
};

// The row of a type number; row 0 ("UNKNOWN") for numbers outside the table.
const DeviceTypeRow& DeviceTypeInfo(int type);
// Display name of a type number ("UNKNOWN" outside the table).
const char* DeviceTypeName(int type);
// Model word of a type number ("UNKNOWN" outside the table).
const char* DeviceTypeModelWord(int type);
// Type number of a model word (compared after upper-casing), 0 when none of
// rows 1 to 12 has it.
int DeviceTypeFromWord(const char* word);
// Whether a version of a type may be updated by this build.
bool DeviceTypeSupports(int type, uint32_t versionNumber);
// Loggers keep their settings in LoggerInfo, instruments in InstrumentInfo.
bool IsLoggerType(int type);      // 2, 3, 4
bool IsInstrumentType(int type);  // 6, 7, 9, 11, 12
