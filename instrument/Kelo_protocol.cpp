// Connection, identification, and the per-type checks of an update.
#include "Kelo_protocol.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Result.h"
#include "Timing.h"
#include "VersionNumber.h"

namespace {
constexpr char kPrompt = '>';
constexpr uint32_t kShortAnswer = 32;  // every exchange of the connection steps
constexpr int64_t kSecondsTo2000 = 946684800;  // 1970-01-01 to 2000-01-01
}  // namespace

Kelo_protocol::Kelo_protocol(KeloSerial& port, KeloLog* log)
    : protocol_(std::make_unique<NIVRA_Protocol>(port, log)), log_(log)
{
}

Kelo_protocol::Kelo_protocol(KeloLog* log)
    : ownPort_(std::make_unique<KeloSerial>(log)), protocol_(std::make_unique<NIVRA_Protocol>(*ownPort_, log)),
      log_(log)
{
}

Kelo_protocol::~Kelo_protocol() = default;

void Kelo_protocol::ClearSettings()
{
    loggerInfo_ = LoggerInfo{};
    instInfo_ = InstrumentInfo{};
    settingsHeld_ = false;
    savedMask_ = 0;
}

int Kelo_protocol::LogLine(uint32_t level, const char* format, ...)
{
    if (!log_)
        return 0;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return log_->LogMessage(level, kTag, "%s", text);
}

int32_t Kelo_protocol::Exchange(const char* command, uint32_t timeoutMs, uint32_t size, uint32_t* elapsedMs)
{
    uint32_t length = size < kAnswerSize ? size : kAnswerSize;
    uint32_t elapsed = 0;
    answer_[0] = '\0';
    int32_t result = protocol_->DeviceCommand(command, kPrompt, timeoutMs, answer_, &length, &elapsed);
    if (elapsedMs)
        *elapsedMs = elapsed;
    return result;
}

int32_t Kelo_protocol::IdentifyDevice(const char* versionLine, DeviceIdentity* identity)
{
    if (!identity || !versionLine || !*versionLine)
        return result::kBadArgument;
    *identity = DeviceIdentity{};
    std::snprintf(identity->versionText, sizeof(identity->versionText), "%s", versionLine);

    if (std::strchr(versionLine, '.')) {
        char word[kVersionTextSize] = {};
        // The word cannot be longer than the line the field holds.
        int consumed = 0;
        int32_t version = 0;
        if (std::sscanf(identity->versionText, "%21s%n", word, &consumed) != 1 ||
            ScanVersion(identity->versionText + consumed, &version) < 2)
            return result::kNotUnderstood;
        identity->versionNumber = static_cast<uint32_t>(version);
        int type = DeviceTypeFromWord(word);
        if (type != 0) {
            const DeviceTypeRow& row = DeviceTypeInfo(type);
            identity->type = static_cast<int8_t>(type);
            std::snprintf(identity->displayName, sizeof(identity->displayName), "%s", row.displayName);
            identity->restartWaitMs = row.restartWaitMs;
            identity->saveSettings = row.saveSettings;
            identity->eraseData = row.eraseData;
            identity->checkBattery = row.checkBattery;
            identity->privilegedLogin = row.privilegedLogin;
            identity->setTime = row.setTime;
            identity->postInit = row.postInit;
        }
    }
    if (identity->type == 0) {
        std::snprintf(identity->displayName, sizeof(identity->displayName), "%s", DeviceTypeName(0));
        identity->supported = false;
        return result::kNotUnderstood;
    }
    identity->supported = DeviceTypeSupports(identity->type, identity->versionNumber);
    return 1;
}

int32_t Kelo_protocol::QPConnect(const char* portName, uint8_t baudIndex, int32_t retries,
                                 DeviceIdentity* identity)
{
    if (!portName || !*portName || !identity)
        return result::kBadArgument;

    ProtocolConfig config{};
    config.keepPortOpen = 0;
    config.serialRetries = retries;
    config.radioRetries = 0;
    config.progressReporting = 0;
    config.traceMode = 0;
    ConnectParams params{};
    std::snprintf(params.port, sizeof(params.port), "%s", portName);
    params.linkType = kLinkSerial;
    params.baudIndex = baudIndex;
    LoggerInfo info{};

    int32_t r = protocol_->Configure(&config, 1);
    if (r < 0) {
        LogLine(KeloLog::kErrors, "QPConnect received error %d trying to configure NIVRA_Prototcol", r);
        return r;
    }

    r = protocol_->ConnectDevice(&params);
    if (r >= 0) {
        uint32_t mask = 0;
        r = protocol_->DeviceSettings(&info, &mask, 0);
    }
    if (r >= 0)
        r = IdentifyDevice(info.version, identity);

    if (r > 0 && !identity->supported) {
        LogLine(KeloLog::kErrors, "QPConnect this firmware version is not supported");
        return result::kCannotUpdate;
    }
    if (r == result::kDeviceSilent) {
        LogLine(KeloLog::kSummary, "QPConnect couldn't connect.");
        return result::kDeviceSilent;
    }
    if (result::InLoader(r)) {
        LogLine(KeloLog::kSummary, "QPConnect found the KeloBSL listening (%d)", r);
        return r;
    }
    if (r == result::kNotUnderstood || r == result::kEchoed) {
        LogLine(KeloLog::kErrors, "QPConnect this device must not be supported");
        return result::kCannotUpdate;
    }
    if (r < 0) {
        LogLine(KeloLog::kErrors, "QPConnect received error %d trying to connect to device", r);
        return r;
    }

    loggerInfo_.newFirmware = 1;
    loggerInfo_.model = info.model;
    // The feature mask goes with model and version: a restore writes only
    // what the features allow, and a record read from the settings file
    // has none of its own.
    loggerInfo_.features = info.features;
    loggerInfo_.versionNumber = info.versionNumber;
    std::memcpy(loggerInfo_.version, info.version, sizeof(loggerInfo_.version));
    loggerInfo_.version[sizeof(loggerInfo_.version) - 1] = '\0';
    deviceType_ = identity->type;
    identity_ = *identity;

    if (identity->privilegedLogin) {
        std::snprintf(command_, sizeof(command_), "login %s\r", kAccessCode);
        int32_t login = Exchange(command_, 1000, kShortAnswer, nullptr);
        if (login > 0 && std::strstr(answer_, "OK"))
            r = 1;
        else if (login < 0)
            r = result::kLoginRefused;
        else
            r = login;
    }
    LogLine(KeloLog::kSummary, "QPConnect successfully connected to device");
    return r;
}

int32_t Kelo_protocol::QPDisconnect()
{
    if (identity_.privilegedLogin)
        Exchange("logout\r", 1000, kShortAnswer, nullptr);
    int32_t result = protocol_->DisconnectDevice();
    PauseMs(100);
    return result;
}

int32_t Kelo_protocol::QPCheckFirmware(bool postInit)
{
    int32_t r = Exchange(postInit ? "post -init\r" : "post\r", 6000, kShortAnswer, nullptr);
    if (r <= 0) {
        LogLine(KeloLog::kErrors, "QPCheckFirmware can't determine firmware code status (error %d)", r);
        return r;
    }
    if (std::strstr(answer_, "Code Good!")) {
        LogLine(KeloLog::kSummary, "QPCheckFirmware: Device reports good firmware code!");
        return 1;
    }
    if (std::strstr(answer_, "Code Corrupt!")) {
        LogLine(KeloLog::kErrors, "QPCheckFirmware: Device reports corrupt firmware code!");
        return result::kFailed;
    }
    LogLine(KeloLog::kErrors, "QPCheckFirmware can't determine firmware code status");
    return result::kNotUnderstood;
}

int32_t Kelo_protocol::QPCheckBattery(int32_t* percent)
{
    if (!percent)
        return result::kBadArgument;
    *percent = -1;
    uint32_t elapsed = 0;
    int32_t r = Exchange("get -batt\r", 1000, kShortAnswer, &elapsed);
    if (r <= 0) {
        LogLine(KeloLog::kErrors, "QPCheckBattery could not read the battery level (error %d)", r);
        return kBatteryUnknown;
    }
    // A level the update cannot trust is no level: the update must not go on
    // on a battery that may die during the erase.
    const char* value = nullptr;
    std::size_t length = 0;
    int32_t level = -1;
    if (ValueOfAnswer(protocol_->LastAnswer(), &value, &length) && length > 0) {
        auto [end, error] = std::from_chars(value, value + length, level);
        if (error != std::errc() || end != value + length)
            level = -1;
    }
    if (level < 0 || level > 100) {
        LogLine(KeloLog::kErrors, "QPCheckBattery: the battery level \"%.*s\" is not a percentage (%d ms)",
                value ? static_cast<int>(length) : 0, value ? value : "", static_cast<int>(elapsed));
        return kBatteryUnknown;
    }
    *percent = level;
    LogLine(KeloLog::kSummary, "QPCheckBattery: %d%% battery (%d ms)", level, static_cast<int>(elapsed));
    return 1;
}

int32_t Kelo_protocol::QPEraseData()
{
    switch (deviceType_) {
    case device_type::kQx7b:
    case device_type::kQx70:
    case device_type::kHubTerminal:
        return protocol_->EraseData();
    case device_type::kJT5Pro:
    case device_type::kCanopyMeter:
    case device_type::kMoistraIG:
        break;
    default:
        return result::kNotForThisDevice;
    }
    uint32_t elapsed = 0;
    int32_t r = Exchange("yes\r", 6000, kShortAnswer, &elapsed);
    if (r > 0) {
        if (std::strstr(answer_, "OK"))
            r = 1;
        else if (std::strstr(answer_, "DataFlash FAIL"))
            r = result::kDataMemoryErrors;
        else
            r = result::kNotUnderstood;
    }
    if (r > 0)
        LogLine(KeloLog::kSummary, "QPEraseData erased device data (%d ms)", static_cast<int>(elapsed));
    else if (r == result::kDataMemoryErrors)
        LogLine(KeloLog::kErrors, "QPEraseData failed due to a broken DataFlash (%d ms)", static_cast<int>(elapsed));
    else
        LogLine(KeloLog::kErrors, "QPEraseData failed with error %d (%d ms)", r, static_cast<int>(elapsed));
    return r;
}

int32_t Kelo_protocol::QPSetTime()
{
    if (!identity_.setTime)
        return result::kNotForThisDevice;
    int32_t status = 0;
    long clockValue = 0;
    uint32_t elapsed = 0;
    if (deviceType_ == device_type::kMoistraIG) {
        errno = 0;
        std::time_t now = clock_ ? clock_() : std::time(nullptr);
        if (now == static_cast<std::time_t>(-1)) {
            LogLine(KeloLog::kErrors, "QPSetTime failed to get system time with error %d", errno);
            return result::kNotUnderstood;
        }
        clockValue = static_cast<long>(static_cast<int64_t>(now) + LocalTimeOffset() - kSecondsTo2000);
        std::snprintf(command_, sizeof(command_), "set -sec %ld\r", clockValue);
        int32_t r = Exchange(command_, 10000, kShortAnswer, &elapsed);
        if (r > 0)
            status = std::strstr(answer_, "OK") ? 1 : -30;
        else
            status = r;
    } else {
        int64_t deviceSeconds = 0;
        status = protocol_->DeviceTime(&deviceSeconds, 1);
        clockValue = static_cast<long>(deviceSeconds);
    }
    if (status > 0)
        LogLine(KeloLog::kVerbose, "QPSetTime set the time to: %ld", clockValue);
    else
        LogLine(KeloLog::kVerbose, "QPSetTime got error %d (%d ms)", status, static_cast<int>(elapsed));
    // The device's confirmation decides: an answer without "OK" is a failure.
    return status;
}
