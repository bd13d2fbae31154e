// Reaching a logger: connect and disconnect, the login procedure over a cable
// or the radio, identification, line-rate change and the feature mask.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "LoggerText.h"
#include "NIVRA_Protocol.h"
#include "Result.h"
#include "Timing.h"
#include "VersionNumber.h"

using logger_text::Contains;

namespace {

constexpr uint32_t kWakePackets = 909;
constexpr uint32_t kWakeSpacingMs = 55;

constexpr int kUnknownRate = -1;

// Device rate code of "set -baud", or kUnknownRate for a rate the logger does not know.
int DeviceRateCode(uint32_t rate)
{
    switch (rate) {
    case 9600: return 0;
    case 19200: return 1;
    case 38400: return 2;
    case 57600: return 3;
    case 115200: return 4;
    default: return kUnknownRate;
    }
}

}  // namespace

#define ELAPSED static_cast<int>(ElapsedMs(start, TickMs()))

int32_t NIVRA_Protocol::SendWake()
{
    TraceSent("\r<Sending Query Mode wake sequence...>\r");
    const bool reporting = config_.progressReporting != 0;
    bool behind = false;
    // Each packet is due at a fixed point of the schedule, so the time spent
    // writing and reporting is taken off the pause instead of adding up.
    uint32_t base = TickMs();
    uint32_t slot = 0;
    for (uint32_t i = 0; i < kWakePackets; ++i, ++slot) {
        uint32_t written = 0;
        const uint32_t sentAt = TickMs();
        port_.KSWrite("\r", 1, &written);
        if (reporting && !behind) {
            if (i % 18 == 0 && !ReportProgress(kWakePackets, i, kPhaseProgress)) {
                LogLine(30, "SendWake canceled by user after sending %d of %d packets",
                        static_cast<int>(i), static_cast<int>(kWakePackets));
                return result::kStopped;
            }
            if (ElapsedMs(sentAt, TickMs()) >= kWakeSpacingMs)
                behind = true;
        }
        const uint32_t due = (slot + 1) * kWakeSpacingMs;
        const uint32_t now = ElapsedMs(base, TickMs());
        if (now < due) {
            PauseMs(due - now);
        } else if (now >= due + kWakeSpacingMs) {
            // More than a whole packet late: start a new schedule rather than
            // sending a burst to catch up.
            base = TickMs();
            slot = static_cast<uint32_t>(-1);
        }
    }
    if (behind)
        LogLine(30, "SendWake executing too slow to send status (PIG status)!");
    LogLine(30, "SendWake sent %d packets", static_cast<int>(kWakePackets));
    if (reporting)
        ReportProgress(kWakePackets, kWakePackets, kPhaseFinished);
    return 1;
}

int32_t NIVRA_Protocol::QueryCommand(char* name, uint32_t mode)
{
    const uint32_t start = TickMs();
    if (mode == 0 || !name)
        return result::kBadArgument;
    const uint32_t saved = retryCount_;
    retryCount_ = 1;
    int32_t result = result::kNoAnswer;
    char answer[180];
    for (uint32_t n = 1; n <= saved; ++n) {
        if (config_.progressReporting && !ReportProgress(saved, n, kPhaseQuery)) {
            result = result::kStopped;
            break;
        }
        if (mode == 1) {
            result = Exchange("\rquery\r", answer, sizeof answer, 3000, '\r');
            if (result > 0) {
                logger_text::CopyUntil(name, kLoggerNameSize, answer, kLoggerNameSize - 1, '\r');
                if (CheckDeviceName(name) == 1)
                    break;
                continue;  // on the last attempt the name heard stands
            }
        } else {
            result = Exchange("\rquery\r", name, mode, 3000, '>');
            if (result > 0)
                break;
        }
        if (result == result::kEchoed)
            break;
    }
    retryCount_ = saved;

    if (result > 0) {
        LogLine(30, "QueryCommand heard from: %s (%d ms)", name, ELAPSED);
        return 1;
    }
    switch (result) {
    case result::kStopped:
        LogLine(30, "QueryCommand canceled by user");
        return result::kStopped;
    case result::kEchoed:
        LogLine(1, "QueryCommand is hearing \"query\" -- a relay must be active (%d ms)", ELAPSED);
        return result::kEchoedAgain;
    case result::kNoAnswer:
        LogLine(30, "QueryCommand didn't get any answers after %d tries (%d ms)", static_cast<int>(saved),
                ELAPSED);
        return result::kNoUsableAnswer;
    default:
        LogLine(1, "QueryCommand failed with error %d (%d ms)", result, ELAPSED);
        return result;
    }
}

int32_t NIVRA_Protocol::LoginCommand(const char* name)
{
    char command[32];
    if (name && name[0]) {
        std::size_t length = strnlen(name, 64);
        if (length > kLoggerNameSize - 1) {
            LogLine(1, "LoginCommand: Device name %.64s is wrong length (%d characters)", name,
                    static_cast<int>(length));
            return result::kNameTooLong;
        }
        std::snprintf(command, sizeof command, "login %s\r", name);
    } else {
        std::snprintf(command, sizeof command, "login\r");
    }
    char answer[10];
    int32_t r = Exchange(command, answer, sizeof answer);
    if (r == result::kBarePrompt)
        return 1;  // the bare prompt is the logger's way of saying yes
    if (r > 0)
        return std::strchr(answer, '>') ? 1 : -30;
    return r;
}

int32_t NIVRA_Protocol::VerCommand(int skipShow)
{
    const uint32_t start = TickMs();
    if (info_.model == kModelQx7 && !info_.newFirmware)
        return ParseShowCommand(nullptr);

    int32_t result = result::kNoAnswer;
    int bare = 0;
    char answer[32];
    for (uint32_t attempt = 0; attempt < retryCount_ + 3; ++attempt) {
        int32_t r = Exchange("get -ver\r", answer, sizeof answer, 500);
        if (r == kUnfinishedAnswer) {
            // No interpreter answer, but perhaps a loader's mark ("+", "$").
            logger_text::CopyUntil(answer, sizeof answer, LastAnswer(), sizeof answer - 1);
        }
        if (retryCount_ == 1 && r == result::kNoAnswer) {
            result = result::kNoAnswer;
            continue;
        }
        if (answer[0] != '\0' && answer[1] == '>') {
            result = result::kEchoed;  // a character and the prompt: something echoes on the line
            PauseMs(500);
            continue;
        }
        if (std::strcmp(answer, "\r") == 0 || std::strcmp(answer, ">") == 0) {
            result = result::kNotUnderstood;
            if (++bare >= 3)
                break;
            attempt = 0;  // becomes 1 after this attempt
            continue;
        }
        if (r == kUnfinishedAnswer) {
            // Never a version line: one that did not end may be cut anywhere.
            if (std::strchr(answer, '+') || std::strchr(answer, '$')) {
                result = std::strchr(answer, '+') ? -80 : -81;
                break;
            }
            result = r;
            continue;
        }
        if (r <= 0 && r != result::kErrorAnswer) {
            result = r;
            if (r == result::kNoAnswer)
                break;
            continue;
        }
        if (std::strchr(answer, '.')) {
            const char* line = answer;
            while (*line == '\r')
                ++line;
            const char* end = std::strchr(line, '\r');
            if (!end)
                continue;
            char version[kLoggerVersionSize];
            logger_text::CopyUntil(version, sizeof version, line, 20, '\r');
            char word[kLoggerVersionSize] = {};
            int consumed = 0;
            int32_t number = 0;
            if (std::sscanf(version, "%23s%n", word, &consumed) != 1 || ScanVersion(version + consumed, &number) < 2) {
                result = result::kNotUnderstood;
                continue;
            }
            std::memcpy(info_.version, version, sizeof version);
            info_.versionNumber = number;
            info_.newFirmware = 1;
            info_.model = static_cast<int8_t>(LoggerModelFromWord(word));
            logger_text::CopyUntil(info_.modelName, sizeof info_.modelName,
                                   LoggerModelName(info_.model), sizeof info_.modelName - 1);
            UpdateFeatures();
            LogLine(30, "VerCommand found \"%s\" ver %d (%d ms)", info_.version, info_.versionNumber,
                    ELAPSED);
            return 1;
        }
        if (std::strchr(answer, '+')) {
            result = result::kInLoader;
            break;
        }
        if (std::strchr(answer, '$')) {
            result = result::kInLoaderOld;
            break;
        }
        if (r == result::kErrorAnswer) {
            info_.newFirmware = 0;
            info_.model = kModelQx7;
            logger_text::CopyUntil(info_.modelName, sizeof info_.modelName, LoggerModelName(kModelQx7),
                                   sizeof info_.modelName - 1);
            LogLine(30, "VerCommand found Qx7 with old firmware (%d ms)", ELAPSED);
            if (!skipShow)
                ParseShowCommand(nullptr);
            UpdateFeatures();
            return 1;
        }
        result = result::kNotUnderstood;
        LogLine(30, "VerCommand couldn't deciper \"%s\" (%d ms)", answer, ELAPSED);
    }
    if (result < 0) {
        LogLine(1, "VerCommand failed with error %d (%d ms)", result, ELAPSED);
        info_.newFirmware = 0;
        info_.model = 0;
        info_.version[0] = '\0';
        info_.versionNumber = 0;
    }
    return result;
}

int32_t NIVRA_Protocol::ParseShowCommand(char* name)
{
    const uint32_t start = TickMs();
    if (info_.model != kModelQx7 || info_.newFirmware) {
        LogLine(1, "ParseShowCommand doesn't work with devices running \"new\" firmware.");
        return result::kOutOfRange;
    }
    if (name)
        name[0] = '\0';
    char answer[180];
    int32_t r = Exchange("show\r", answer, sizeof answer);
    int errors = 0;
    if (r > 0) {
        if (const char* id = std::strstr(answer, "ID:")) {
            char found[kLoggerNameSize] = {};
            bool ok = std::sscanf(logger_text::Skip(id, 4), "%8s", found) == 1;
            if (name) {
                if (!ok)
                    return result::kNotUnderstood;
                std::memcpy(name, found, sizeof found);
                return 1;
            }
            if (ok)
                std::memcpy(info_.name, found, sizeof found);
            else
                errors += 1;
        }
        if (const char* version = std::strstr(answer, "Version:")) {
            char found[kLoggerVersionSize] = {};
            int32_t number = 0;
            if (std::sscanf(logger_text::Skip(version, 9), "%20s", found) == 1)
                std::memcpy(info_.version, found, sizeof found);
            if (ScanVersion(info_.version, &number) == 3)
                info_.versionNumber = number;
            else
                errors += 2;
        }
        if (info_.versionNumber < 110)
            return result::kNotForThisDevice;
        int value = 0;
        if (const char* radio = std::strstr(answer, "Radio:")) {
            if (std::sscanf(logger_text::Skip(radio, 7), "%d", &value) == 1)
                info_.rmode = static_cast<uint32_t>(value);
            else
                errors += 4;
        }
        if (const char* wake = std::strstr(answer, "Wake:")) {
            if (std::sscanf(logger_text::Skip(wake, 6), "%d", &value) == 1)
                info_.wake = static_cast<uint32_t>(value);
            else
                errors += 8;
        }
        if (const char* resets = std::strstr(answer, "Resets:")) {
            if (std::sscanf(logger_text::Skip(resets, 8), "%d", &value) == 1)
                resets_ = value;
            else
                errors += 16;
        }
    }
    info_.sn[0] = '\0';
    if (r <= 0 || errors != 0) {
        LogLine(1, "ParseShowCommand failed with errors %d and %d (%d ms)", r, errors, ELAPSED);
        info_.name[0] = '\0';
        info_.version[0] = '\0';
        info_.versionNumber = -1;
        info_.wake = static_cast<uint32_t>(-1);
        info_.rmode = 0;
        return result::kNotUnderstood;
    }
    LogLine(1, "ParseShowCommand found %s:%s:%d:%d:%d (%d ms)", info_.name, info_.version,
            static_cast<int>(info_.rmode), static_cast<int>(info_.wake), resets_, ELAPSED);
    return 1;
}

int32_t NIVRA_Protocol::SetBaudCommand(uint32_t rate)
{
    const uint32_t start = TickMs();
    if (!info_.newFirmware) {
        LogLine(30, "SetBaudCommand: device (%s) can't change baud rate", info_.name);
        return result::kFailed;
    }
    int code = DeviceRateCode(rate);
    if (code < 0) {
        LogLine(30, "SetBaudCommand: unsupported baud rate %d, using 9600", static_cast<int>(rate));
        code = 0;
    }
    char command[32];
    std::snprintf(command, sizeof command, "set -baud %d\r", code);
    char answer[32];
    int32_t result = result::kNoAnswer;
    for (uint32_t attempt = 0; attempt < retryCount_; ++attempt) {
        int32_t r = Exchange(command, answer, sizeof answer, 1000, 'K');
        if (r > 0) {
            if (Contains(answer, "OK")) {
                LogLine(30, "SetBaudCommand set device baud rate to %d (%d ms)", static_cast<int>(rate),
                        ELAPSED);
                result = 1;
                break;
            }
            result = result::kNotUnderstood;
            if (Contains(answer, "\r>")) {
                LogLine(30, "SetBaudCommand failed (heard prompt): trying again (%d ms)", ELAPSED);
                continue;
            }
            LogLine(30, "SetBaudCommand failed: heard: %s (%d ms)", answer, ELAPSED);
            break;
        }
        if (r == result::kNoAnswer) {
            // Back at 9600 the logger may already be listening at the new rate.
            if (rate == 9600) {
                result = 1;
                break;
            }
            result = result::kNoAnswer;
            if (port_.Baud() == 9600)
                PauseMs(1000);
            continue;
        }
        result = r;
    }
    if (result < 0)
        LogLine(1, "SetBaudCommand failed with error %d (%d ms)", result, ELAPSED);
    PauseMs(100);
    return result;
}

int32_t NIVRA_Protocol::DeviceLogin(char* name, uint8_t* baudIndex)
{
    if (!name || !baudIndex)
        return result::kBadArgument;
    if (port_.Baud() != 9600) {
        int r = port_.KSHostBaud(9600);
        if (r < 0) {
            LogLine(30, "DeviceLogin: host reports it can't change baud (error %d)", r);
            return result::kDeviceSilent;
        }
    }

    if (connection_.linkType == kLinkRadio) {
        int32_t result = result::kNoAnswer;
        for (int pass = 0; pass < 2; ++pass) {
            if (!name[0]) {
                int32_t r = QueryCommand(name, 1);
                if (r == result::kStopped)
                    return result::kStopped;
                if (r < 0)
                    name[0] = '\0';  // no half-heard name is used to log in
                if (result::IsNoAnswer(r)) {
                    result = r;
                } else if (r < 0) {
                    result = r;
                    break;
                }
            }
            if (name[0]) {
                int32_t r = LoginCommand(name);
                if (r > 0) {
                    logger_text::CopyUntil(info_.name, sizeof info_.name, name, kLoggerNameSize - 1);
                    result = 1;
                    break;
                }
                result = r;
                if (r != result::kNoAnswer)
                    break;
            }
            if (pass == 0 && SendWake() == result::kStopped)
                return result::kStopped;
        }
        if (result::IsNoAnswer(result)) {
            LogLine(30, "DeviceLogin: nothing is listening over the radio");
            return result::kDeviceSilent;
        }
        if (result == result::kEchoed) {
            LogLine(1, "DeviceLogin thinks a relay must be active");
            return result::kEchoedAgain;
        }
        if (result < 0) {
            LogLine(30, "DeviceLogin failed with error %d", result);
            return result;
        }
        if (!info_.name[0]) {
            LogLine(30, "DeviceLogin: nothing is listening over the radio");
            return result::kDeviceSilent;
        }
        *baudIndex = kBaudIndex9600;
        LogLine(30, "DeviceLogin communicating with a device running %s at %d baud", info_.version,
                static_cast<int>(port_.Baud()));
        return 1;
    }

    int32_t r = VerCommand(1);
    if (r == result::kNoAnswer) {
        LogLine(30, "DeviceLogin: nothing is listening over the serial port");
        return result::kDeviceSilent;
    }
    if (r < 0) {
        LogLine(30, "DeviceLogin failed with error %d", r);
        return r;
    }
    if (info_.features & logger_feature::kSetBaud) {
        const uint32_t rate = LoggerBaudRate(*baudIndex);
        if (rate == port_.Baud()) {
            *baudIndex = kBaudIndex9600;
        } else if (DeviceRateCode(rate) < 0) {
            // The logger has no code for this rate: stay where both ends are.
            LogLine(30, "DeviceLogin: device didn't change baud rate (error %d)", result::kOutOfRange);
            *baudIndex = kBaudIndex9600;
        } else {
            int32_t s = SetBaudCommand(rate);
            if (s < 0) {
                LogLine(30, "DeviceLogin: device didn't change baud rate (error %d)", s);
                *baudIndex = kBaudIndex9600;
            } else {
                int h = port_.KSHostBaud(rate);
                if (h < 0) {
                    LogLine(1, "DeviceLogin: host reports it can't change baud (error %d)", h);
                    return result::kDeviceSilent;
                }
            }
        }
    } else {
        *baudIndex = kBaudIndex9600;
    }
    LogLine(30, "DeviceLogin communicating with a device running %s at %d baud", info_.version,
            static_cast<int>(port_.Baud()));
    return 1;
}

int32_t NIVRA_Protocol::ConnectDevice(ConnectParams* params)
{
    if (!params)
        return result::kBadArgument;
    if (!answer_ || initStatus_ < 0)
        return result::kOutOfMemory;
    ClearInfo();
    switch (params->linkType) {
    case 0:
        return result::kOutOfRange;
    case 4: case 20: case 40: case 100: case 110: case 120:
        return result::kNotForThisDevice;
    case kLinkSerial:
        retryCount_ = static_cast<uint32_t>(config_.serialRetries);
        break;
    case kLinkRadio:
        retryCount_ = static_cast<uint32_t>(config_.radioRetries);
        break;
    default:
        return result::kBadArgument;
    }
    if (params->baudIndex == 0)
        params->baudIndex = kBaudIndex9600;
    params->port[kLoggerPortNameSize - 1] = '\0';
    params->loginName[kLoggerNameSize - 1] = '\0';

    if (connection_.linkType == 0) {
        int r = port_.KSOpen(params->port, 9600);
        if (r < 0)
            return r;
    }
    connection_ = *params;

    if (connection_.linkType == kLinkRadio && connection_.radioKnown) {
        retryCount_ = 3;
        uint32_t radioMask = logger_mask::kRch | logger_mask::kRsch;
        int32_t r = Tz9Config(&connection_.rch, &connection_.rsch, nullptr, 1, &radioMask);
        if (r != 1) {
            if (!config_.keepPortOpen) {
                connection_.linkType = 0;
                port_.KSClose();
            }
            return result::kFeatureMissing;
        }
        retryCount_ = static_cast<uint32_t>(config_.radioRetries);
    }

    int32_t result = DeviceLogin(params->loginName, &params->baudIndex);
    std::memcpy(connection_.loginName, params->loginName, sizeof connection_.loginName);
    connection_.baudIndex = params->baudIndex;
    if (result < 0 && !config_.keepPortOpen) {
        port_.KSClose();
        connection_.linkType = 0;
    }
    return result;
}

int32_t NIVRA_Protocol::DisconnectDevice()
{
    // A radio login identifies the logger by name; a cable login by version.
    const bool identified = info_.versionNumber != 0 ||
                            (connection_.linkType == kLinkRadio && info_.name[0] != '\0');
    if (connection_.linkType == 0 || !identified)
        return 0;

    int32_t result = 1;
    if (connection_.linkType == kLinkSerial) {
        if (port_.Baud() != 9600)
            SetBaudCommand(9600);
    } else {
        result = result::kNoUsableAnswer;
        char command[32];
        std::snprintf(command, sizeof command, "login %s\r", info_.name);
        char heard[32];
        port_.KSPurge(1);
        for (uint32_t attempt = 0; attempt < retryCount_; ++attempt) {
            uint32_t written = 0;
            port_.KSWrite("logout\r", 7, &written);
            TraceSent("logout\r");
            PauseMs(100);
            port_.KSWrite(command, static_cast<uint32_t>(std::strlen(command)), &written);
            TraceSent(command);
            uint32_t got = 0;
            if (port_.KSRead(heard, sizeof heard - 1, &got) < 0)
                got = 0;
            heard[got] = '\0';
            if (got == 0) {
                result = 1;  // the logger has gone quiet
                break;
            }
            TraceReceived(heard);
            LogLine(30, "DisconnectDevice: Device didn't disconnect, retrying");
        }
    }
    ClearInfo();

    if (config_.keepPortOpen) {
        int r = port_.KSHostBaud(9600);
        if (r < 0) {
            port_.KSClose();
            connection_.linkType = 0;
            LogLine(1, "DisconnectDevice: Error setting host baud rate; can't keep port open (error %d)", r);
        }
    } else {
        port_.KSClose();
        connection_.linkType = 0;
    }
    if (result > 0)
        LogLine(30, "DisconnectDevice successful");
    return result;
}

int32_t NIVRA_Protocol::UpdateFeatures()
{
    const int32_t v = info_.versionNumber;
    uint32_t f;
    switch (info_.model) {
    case kModelQx7:
        f = info_.newFirmware ? 0x331F : 0x331C;
        break;
    case kModelQx70:
        f = 0x7337;
        if (v >= 113)
            f |= 0x10000;
        if (v >= 112)
            f |= 0x8840;
        else if (v >= 108)
            f |= 0x440;
        if (v >= 105)
            f |= 0x80;
        break;
    case kModelHubTerminal:
        f = 0x4103;
        if (v >= 109)
            f |= 0x20000;
        if (v >= 105)
            f |= 0x80;
        break;
    case kModelQx7b:
        f = 0x70BE;
        break;
    default:
        f = 0x1005;
        break;
    }
    info_.features = f;
    return 1;
}
