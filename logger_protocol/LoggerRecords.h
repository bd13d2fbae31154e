// Records shared by the logger command protocol and its users: the protocol
// configuration, the parameters of one connection, everything known about the
// connected logger, and the bit masks that say which settings and features
// are meant.
#pragma once

#include <cstdint>

#include "SerialBackend.h"

// Room for any port name the serial port accepts (any path) and a NUL.
constexpr int kLoggerPortNameSize = static_cast<int>(serial_backend::kPortNameSize);
constexpr int kLoggerNameSize = 9;        // 8 characters and NUL
constexpr int kLoggerSnSize = 16;         // 15 characters and NUL
constexpr int kLoggerVersionSize = 24;    // at most 20 characters are used
constexpr int kLoggerModelNameSize = 32;
constexpr int kLoggerRverSize = 9;
constexpr int kLoggerPortCount = 5;

struct ProtocolConfig {
    uint8_t keepPortOpen = 0;       // DisconnectDevice leaves the port open at 9600
    int32_t serialRetries = 3;      // at most 12; 0 selects 3
    int32_t radioRetries = 5;       // at most 12; 0 selects 5
    uint8_t progressReporting = 0;  // long operations call ReportProgress and honour a cancel
    int8_t traceMode = 0;           // 0 none, 1 received, 2 sent, 3 both
};

// Link types of ConnectParams::linkType.
constexpr uint8_t kLinkSerial = 10;
constexpr uint8_t kLinkRadio = 30;

struct ConnectParams {
    char port[kLoggerPortNameSize] = {};
    uint8_t linkType = 0;           // kLinkSerial or kLinkRadio
    uint8_t baudIndex = 0;          // index into the baud table; 0 selects 2 (9600)
    char loginName[kLoggerNameSize] = {};  // radio login name; empty: found by query
    int32_t rch = 0;
    int32_t rsch = 0;
    uint8_t radioKnown = 0;         // rch/rsch are given: set the local modem first
};

struct LoggerInfo {
    uint32_t valid = 0;             // settings mask of what was read successfully
    uint32_t features = 0;          // feature mask (UpdateFeatures)
    int8_t model = 0;               // LoggerModel code
    char modelName[kLoggerModelNameSize] = {};
    uint8_t newFirmware = 0;        // answers "get -ver"
    char name[kLoggerNameSize] = {};
    char sn[kLoggerSnSize] = {};
    char version[kLoggerVersionSize] = {};
    int32_t versionNumber = 0;      // major*100 + minor*10 + patch
    int32_t traits = 0;             // 0x4000: valid, 0x1: radio fitted
    uint32_t wake = 0;              // measurement interval
    uint8_t ports[kLoggerPortCount] = {};
    int32_t padc = 0;               // Hz
    uint8_t slope[kLoggerPortCount] = {};
    uint8_t offset[kLoggerPortCount] = {};
    int32_t data = 0;
    uint32_t rmode = 0;
    int32_t rch = 0;
    int32_t rsch = 0;
    char rver[kLoggerRverSize] = {};
};

// Logger model codes (LoggerInfo::model).
enum LoggerModel : int8_t {
    kModelUnknown = 0,
    kModelUnknownLogger = 1,
    kModelQx7 = 2,
    kModelQx70 = 3,
    kModelHubTerminal = 4,
    kModelLinkCenter = 5,
    kModelQx7b = 6,
    kModelGeneric = 7,
};

// Display name of a model code ("Unknown" for codes outside the table).
const char* LoggerModelName(int model);
// Model code of a version line's model word, compared after upper-casing.
int LoggerModelFromWord(const char* word);

// Settings mask bits, each named by the keyword of its command.
namespace logger_mask {
constexpr uint32_t kName = 0x1;
constexpr uint32_t kSn = 0x2;
constexpr uint32_t kVer = 0x4;
constexpr uint32_t kTrait = 0x8;
constexpr uint32_t kWake = 0x10;
constexpr uint32_t kPorts = 0x20;
constexpr uint32_t kPadc = 0x40;
constexpr uint32_t kData = 0x100;
constexpr uint32_t kRmode = 0x200;
constexpr uint32_t kRch = 0x400;
constexpr uint32_t kRsch = 0x800;
constexpr uint32_t kRver = 0x1000;
constexpr uint32_t kAdcCal = 0x2000000;
constexpr uint32_t kRadio = kRch | kRsch | kRver;
}  // namespace logger_mask

// Feature mask bits that the protocol tests.
namespace logger_feature {
constexpr uint32_t kSetBaud = 0x1;
constexpr uint32_t kWakePadc = 0x10;
constexpr uint32_t kPorts = 0x20;
constexpr uint32_t kTrait = 0x40;
constexpr uint32_t kRadio = 0x100;
constexpr uint32_t kRmode = 0x200;
constexpr uint32_t kClock = 0x1000;
constexpr uint32_t kAdcCal = 0x10000;
constexpr uint32_t kDataParameter = 0x20000;
}  // namespace logger_feature

// Baud table: index 0 means none; 1..7 are 1200 .. 230400. Out of range: 0.
uint32_t LoggerBaudRate(int index);
constexpr int kLoggerBaudCount = 8;
constexpr uint8_t kBaudIndex9600 = 2;
