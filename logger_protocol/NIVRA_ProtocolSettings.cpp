// The per-setting get/set commands of the logger interpreter and the bulk
// operation DeviceSettings that runs a selection of them.
#include <bit>
#include <cstdio>
#include <cstring>

#include "LoggerText.h"
#include "NIVRA_Protocol.h"
#include "Result.h"
#include "Timing.h"

using logger_text::AfterFirstCr;
using logger_text::Contains;
using logger_text::ValueLine;
using logger_text::WholeNumbers;
namespace mask = logger_mask;
namespace feature = logger_feature;

namespace {

constexpr uint32_t kShortAnswer = 32;
constexpr uint32_t kCalAnswer = 128;

uint8_t Clamp255(unsigned value)
{
    return static_cast<uint8_t>(value > 255 ? 255 : value);
}

}  // namespace

int32_t NIVRA_Protocol::Exchange(const char* command, char* answer, uint32_t size,
                                 uint32_t timeoutMs, char terminator)
{
    uint32_t length = size;
    return DeviceCommand(command, terminator, timeoutMs, answer, &length, nullptr);
}

#define ELAPSED static_cast<int>(ElapsedMs(start, TickMs()))

int32_t NIVRA_Protocol::LogIfFailed(const char* command, int32_t result, uint32_t start)
{
    if (result < 0)
        LogLine(1, "%s failed with error %d (%d ms)", command, result, ELAPSED);
    return result;
}

// The log lines read "<name> set <setText>N<unit> (T ms)",
// "<name> found <foundText>N<unit> (T ms)" and "<name> could not find <missingText> (T ms)".
struct NIVRA_Protocol::NumberSetting {
    const char* name;
    const char* setCommand;  // sent as "<setCommand> N\r"
    const char* getCommand;
    const char* setText;
    const char* foundText;
    const char* unit;
    const char* missingText;
    bool refuseNegative;  // a negative value is refused (-11) without sending it
    bool okConfirms;      // "OK" confirms a write whatever the firmware
    bool afterEcho;       // the number follows the echoed command line
};

int32_t NIVRA_Protocol::NumberCommand(const NumberSetting& s, int32_t* value, int direction,
                                      uint32_t start)
{
    char answer[kShortAnswer];
    int32_t result;
    if (direction == 1) {
        if (s.refuseNegative && *value < 0)
            result = result::kOutOfRange;
        else {
            char command[32];
            std::snprintf(command, sizeof command, "%s %d\r", s.setCommand, *value);
            result = Exchange(command, answer, sizeof answer);
            if (result > 0) {
                const bool confirmed = s.okConfirms ? Contains(answer, "OK") : Confirmed(answer);
                result = confirmed ? 1 : -30;
            }
            if (result == 1)
                LogLine(30, "%s set %s%d%s (%d ms)", s.name, s.setText, *value, s.unit, ELAPSED);
        }
    } else {
        result = Exchange(s.getCommand, answer, sizeof answer);
        if (result > 0) {
            const char* text = nullptr;
            std::size_t length = 0;
            long number = 0;
            // The whole value line, framed as the interpreter frames it.
            if (ValueLine(s.afterEcho ? AfterFirstCr(answer) : answer, &text, &length) &&
                WholeNumbers(text, length, &number, 1)) {
                const int found = static_cast<int>(number);
                *value = found;
                LogLine(30, "%s found %s%d%s (%d ms)", s.name, s.foundText, found, s.unit, ELAPSED);
                result = 1;
            } else {
                LogLine(30, "%s could not find %s (%d ms)", s.name, s.missingText, ELAPSED);
                result = result::kNotUnderstood;
            }
        }
    }
    return LogIfFailed(s.name, result, start);
}

int32_t NIVRA_Protocol::NameCommand(char* name, int direction)
{
    const uint32_t start = TickMs();
    if (!name)
        return result::kBadArgument;
    char answer[kShortAnswer];
    char command[32];
    int32_t result;
    if (direction == 1) {
        int32_t legal = CheckDeviceName(name);
        if (legal != 1) {
            LogLine(1, "NameCommand: \"%.8s\" is an illegal device name (error %d)", name, legal);
            return legal;
        }
        std::snprintf(command, sizeof command, "set -i %s\r", name);
        result = Exchange(command, answer, sizeof answer);
        if (result > 0) {
            result = Confirmed(answer) ? 1 : -30;
            if (result == 1)
                LogLine(30, "NameCommand set device name to \"%s\" (%d ms)", name, ELAPSED);
        }
    } else {
        result = Exchange("get -i\r", answer, sizeof answer);
        if (result == result::kBarePrompt)
            return result::kNoName;  // bare prompt: the logger has no name yet
        if (result > 0) {
            char found[kLoggerNameSize] = {};
            const char* text = nullptr;
            std::size_t length = 0;
            // One word of at most 8 characters: more is no name this logger keeps.
            if (ValueLine(AfterFirstCr(answer), &text, &length) && length > 0 &&
                length < kLoggerNameSize && !std::memchr(text, ' ', length)) {
                std::memcpy(found, text, length);
                std::memcpy(name, found, sizeof found);
                LogLine(30, "NameCommand found device named \"%s\" (%d ms)", name, ELAPSED);
                result = 1;
            } else {
                LogLine(30, "NameCommand couldn't find device name (%d ms)", ELAPSED);
                result = result::kNotUnderstood;
            }
        }
    }
    return LogIfFailed("NameCommand", result, start);
}

int32_t NIVRA_Protocol::SNCommand(char* sn, int direction)
{
    const uint32_t start = TickMs();
    if (!sn)
        return result::kBadArgument;
    char answer[kShortAnswer];
    char command[32];
    int32_t result;
    if (direction == 1) {
        if (!info_.newFirmware)
            result = result::kFailed;
        else {
            std::snprintf(command, sizeof command, "set -sn %.15s\r", sn);
            result = Exchange(command, answer, sizeof answer);
            if (result == result::kErrorAnswer)
                result = result::kRefused;
            else if (result > 0)
                result = Contains(answer, "OK") ? 1 : -30;
            if (result == 1)
                LogLine(30, "SNCommand set device serial number to \"%.15s\" (%d ms)", sn, ELAPSED);
        }
    } else {
        result = Exchange("get -sn\r", answer, sizeof answer);
        if (result > 0) {
            char found[kLoggerSnSize];
            const char* text = nullptr;
            std::size_t length = 0;
            if (!ValueLine(AfterFirstCr(answer), &text, &length) || length == 0 ||
                length > kLoggerSnSize - 1) {
                result = result::kNotUnderstood;
            } else {
                logger_text::CopyUntil(found, sizeof found, text, length);
                std::memcpy(sn, found, sizeof found);
                LogLine(30, "SNCommand found device serial number \"%s\" (%d ms)", sn, ELAPSED);
                result = 1;
            }
        }
    }
    return LogIfFailed("SNCommand", result, start);
}

int32_t NIVRA_Protocol::WakeCommand(uint32_t* interval, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kWakePadc))
        return result::kFailed;
    if (!interval)
        return result::kBadArgument;
    const NumberSetting wake = {
        .name = "WakeCommand", .setCommand = "set -w", .getCommand = "get -w\r",
        .setText = "device measurment interval to ", .foundText = "device measurement interval ",
        .unit = "", .missingText = "device measurement interval",
        .refuseNegative = true, .okConfirms = false, .afterEcho = true};
    int32_t value = static_cast<int32_t>(*interval);
    const int32_t result = NumberCommand(wake, &value, direction, start);
    *interval = static_cast<uint32_t>(value);  // unchanged unless read
    return result;
}

int32_t NIVRA_Protocol::PADCCommand(int32_t* frequency, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kWakePadc))
        return result::kFailed;
    if (!frequency)
        return result::kBadArgument;
    if (!info_.newFirmware && info_.versionNumber < 165) {
        *frequency = -1;
        return result::kFailed;
    }
    const NumberSetting padc = {
        .name = "PADCCommand",
        .setCommand = info_.newFirmware ? "set -padc" : "set -p",
        .getCommand = info_.newFirmware ? "get -padc\r" : "hertz\r",
        .setText = "device PADC ", .foundText = "device PADC ",
        .unit = " Hz", .missingText = "device PADC value",
        .refuseNegative = true, .okConfirms = false, .afterEcho = true};
    return NumberCommand(padc, frequency, direction, start);
}

int32_t NIVRA_Protocol::PortsCommand(uint8_t* ports, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kPorts)) {
        if (direction == 0 && ports)
            std::memset(ports, 0, kLoggerPortCount);
        return result::kFailed;
    }
    if (!ports)
        return result::kBadArgument;
    char answer[kShortAnswer];
    char command[48];
    int32_t result;
    if (direction == 1) {
        std::snprintf(command, sizeof command, "set -ports %d %d %d %d %d\r", ports[0], ports[1],
                      ports[2], ports[3], ports[4]);
        result = Exchange(command, answer, sizeof answer);
        if (result > 0)
            result = Contains(answer, "OK") ? 1 : -30;
        if (result == 1)
            LogLine(30, "PortsCommand set ports to %d %d %d %d %d (%d ms)", ports[0], ports[1],
                    ports[2], ports[3], ports[4], ELAPSED);
    } else {
        result = Exchange("get -ports\r", answer, sizeof answer);
        if (result > 0) {
            int v[kLoggerPortCount] = {};
            int found = std::sscanf(answer, "%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
            if (found < 0)
                found = 0;
            const char* text = nullptr;
            std::size_t length = 0;
            long whole[kLoggerPortCount] = {};
            if (found == kLoggerPortCount &&
                !(ValueLine(answer, &text, &length) && WholeNumbers(text, length, whole, kLoggerPortCount)))
                found = 0;  // more than five, or garbled: none of them is believed
            if (found < kLoggerPortCount) {
                LogLine(30, "PortsCommand only found %d of %d ports (%d ms)", found, kLoggerPortCount,
                        ELAPSED);
                result = result::kNotUnderstood;
            } else {
                for (int i = 0; i < kLoggerPortCount; ++i)
                    ports[i] = Clamp255(static_cast<unsigned>(v[i]));
                LogLine(30, "PortsCommand: ports are %d %d %d %d %d (%d ms)", ports[0], ports[1],
                        ports[2], ports[3], ports[4], ELAPSED);
                result = 1;
            }
        }
    }
    return LogIfFailed("PortsCommand", result, start);
}

int32_t NIVRA_Protocol::ADCcalCommand(uint8_t* slope, uint8_t* offset, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kAdcCal))
        return result::kFailed;
    if (!slope || !offset)
        return result::kBadArgument;
    char answer[kCalAnswer];
    char command[80];
    unsigned v[11] = {};
    int32_t result;
    if (direction == 1) {
        unsigned check = 0;
        for (int i = 0; i < kLoggerPortCount; ++i) {
            v[2 * i] = slope[i];
            v[2 * i + 1] = offset[i];
            check += slope[i] + offset[i];
        }
        v[10] = check % 256;
        std::snprintf(command, sizeof command, "set -adccal %u %u %u %u %u %u %u %u %u %u %u\r", v[0],
                      v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]);
        result = Exchange(command, answer, sizeof answer);
        if (result > 0)
            result = Contains(answer, "OK") ? 1 : -30;
        if (result == 1)
            LogLine(30, "ADCcalCommand set %u %u %u %u %u %u %u %u %u %u %u (%d ms)", v[0], v[1], v[2],
                    v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], ELAPSED);
    } else {
        result = Exchange("get -adccal\r", answer, sizeof answer);
        if (result > 0) {
            int found = std::sscanf(answer, "%u %u %u %u %u %u %u %u %u %u %u", &v[0], &v[1], &v[2],
                                    &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10]);
            if (found < 0)
                found = 0;
            const char* text = nullptr;
            std::size_t length = 0;
            long whole[11] = {};
            if (found == 11 && !(ValueLine(answer, &text, &length) && WholeNumbers(text, length, whole, 11)))
                found = 0;  // more than eleven, or garbled: none of them is believed
            if (found < 11) {
                LogLine(30, "ADCcalCommand only found %d of %d cal factors (%d ms)", found, 11, ELAPSED);
                result = result::kNotUnderstood;
            } else {
                // The check value is carried but not judged: the logger judges it.
                for (int i = 0; i < kLoggerPortCount; ++i) {
                    slope[i] = Clamp255(v[2 * i]);
                    offset[i] = Clamp255(v[2 * i + 1]);
                }
                LogLine(30, "ADCcalCommand found %u %u %u %u %u %u %u %u %u %u %u (%d ms)", v[0], v[1],
                        v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], ELAPSED);
                result = 1;
            }
        }
    }
    return LogIfFailed("ADCcalCommand", result, start);
}

int32_t NIVRA_Protocol::DataParameterCommand(int32_t* value, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kDataParameter))
        return result::kFailed;
    if (!value)
        return result::kBadArgument;
    const NumberSetting data = {
        .name = "DataParameterCommand", .setCommand = "set -data", .getCommand = "get -data\r",
        .setText = "data parameter to ", .foundText = "data parameter ",
        .unit = "", .missingText = "device data parameter",
        .refuseNegative = false, .okConfirms = true, .afterEcho = false};
    return NumberCommand(data, value, direction, start);
}

int32_t NIVRA_Protocol::RmodeCommand(uint32_t* value, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & feature::kRmode))
        return result::kFailed;
    if (!value)
        return result::kBadArgument;
    const NumberSetting rmode = {
        .name = "RmodeCommand", .setCommand = "set -r", .getCommand = "get -r\r",
        .setText = "rmode to ", .foundText = "rmode ",
        .unit = "", .missingText = "device rmode",
        .refuseNegative = false, .okConfirms = false, .afterEcho = false};
    int32_t number = static_cast<int32_t>(*value);
    const int32_t result = NumberCommand(rmode, &number, direction, start);
    *value = static_cast<uint32_t>(number);  // unchanged unless read
    return result;
}

int32_t NIVRA_Protocol::TraitCommand(int32_t* traits, int direction)
{
    const uint32_t start = TickMs();
    if (!traits)
        return result::kBadArgument;
    if (info_.model == kModelHubTerminal) {
        *traits = 0x4001;
        LogLine(30, "TraitCommand: set trait to %d for HubTerminal", *traits);
        return 1;
    }
    if (direction == 1) {
        LogLine(30, "TraitCommand doesn't support setting device traits");
        return result::kRefused;
    }
    int32_t result = 0;
    if (info_.features & feature::kTrait) {
        char answer[kShortAnswer];
        result = Exchange("get -trait\r", answer, sizeof answer);
        if (result > 0) {
            const char* text = nullptr;
            std::size_t length = 0;
            long number = 0;
            if (ValueLine(answer, &text, &length) && WholeNumbers(text, length, &number, 1)) {
                const int v = static_cast<int>(number);
                *traits = (255 - v) | 0x4000;
                LogLine(30, "TraitCommand: found %d (%d ms)", *traits, ELAPSED);
                result = 1;
            } else {
                result = result::kNotUnderstood;
            }
        }
    } else if (!(info_.features & feature::kRadio)) {
        *traits = 0x4000;
        result = 1;
    } else if (connection_.linkType == kLinkRadio) {
        *traits = 0x4001;
        LogLine(30, "TraitCommand (emulated): knows %d", *traits);
        result = 1;
    } else {
        uint32_t radioMask = mask::kRver;
        int32_t radio = MSRadioCommand(nullptr, nullptr, info_.rver, 0, &radioMask);
        *traits = (radioMask & mask::kRver) ? 0x4001 : 0x4000;
        if (radio >= 0) {
            LogLine(30, "TraitCommand (emulated): found %d", *traits);
            result = 1;
        }
    }
    return LogIfFailed("TraitCommand", result, start);
}

int32_t NIVRA_Protocol::HasRadio() const
{
    if (!(info_.traits & 0x4000))
        return result::kFailed;
    return (info_.traits & 1) ? 1 : 0;
}

int32_t NIVRA_Protocol::DeviceSettings(LoggerInfo* info, uint32_t* settingsMask, int direction)
{
    if (!info || !settingsMask)
        return result::kBadArgument;
    if (direction != 0 && direction != 1)
        return result::kOutOfRange;
    const bool reading = direction == 0;
    uint32_t work = *settingsMask;
    uint32_t obtained = 0;
    if (!reading) {
        info_ = *info;
    } else if (info_.versionNumber == 0) {
        work |= mask::kVer;
    } else {
        obtained |= mask::kVer;
    }
    if (reading && (work & mask::kRadio) && !(work & mask::kTrait))
        work |= mask::kTrait;  // the traits word decides whether the radio is read at all

    const int total = std::popcount(*settingsMask);
    int32_t result = 1;
    int32_t last = 0;
    uint32_t reconnects = 0;
    uint32_t snapshot = 0;
    int32_t snapshotResult = 1;

    for (;;) {
        const int remaining = std::popcount(work);
        const uint32_t done = total > remaining ? static_cast<uint32_t>(total - remaining) : 0;
        if (config_.progressReporting && !ReportProgress(total, done, kPhaseProgress)) {
            LogLine(30, "DeviceSettings canceled by user after getting %d of %d settings",
                    static_cast<int>(done), total);
            ReportProgress(total, done, kPhaseFinished);
            return result::kStopped;
        }
        if (result::IsEcho(last) || last == result::kNoName) {
            result = last;
            break;
        }
        if (last < 0) {
            result = result::kSomeSettingsMissing;
            PauseMs(100);
        }
        if (last == result::kNoAnswer) {
            if (reconnects >= retryCount_ || connection_.linkType == kLinkRadio) {
                result = result::kNoAnswer;
                break;
            }
            ++reconnects;
            int32_t login = DeviceLogin(connection_.loginName, &connection_.baudIndex);
            if (login > 0) {
                LogTagged(30, "******", "DeviceSettings re-connected to device");
                work = snapshot;  // the lost setting is tried again
                result = snapshotResult;
            } else if (login == result::kDeviceSilent) {
                result = result::kNoAnswer;
                break;
            }
        } else {
            if (work == 0 || work == snapshot)
                break;
            snapshot = work;
            snapshotResult = result;
            reconnects = 0;
        }

        int32_t r = 0;
        uint32_t bits = 0;
        if (work & mask::kVer) {
            if (!reading) {
                work &= ~mask::kVer;
                last = 0;
                continue;
            }
            if (info_.model && info_.newFirmware && info_.version[0] && info_.versionNumber)
                r = 1;
            else
                r = VerCommand(0);
            if (info_.newFirmware) {
                work &= ~mask::kVer;
                bits = mask::kVer;
            } else {
                work &= ~0x217u;
                bits = 0x215;
                if (r == result::kNotForThisDevice) {
                    LogLine(30, "DeviceSettings: old VaultKeeper model 007 not supported");
                    return result::kNotForThisDevice;
                }
            }
        } else if (!info_.newFirmware && reading && (work & 0x211u)) {
            r = ParseShowCommand(nullptr);
            work &= ~0x213u;
            bits = 0x215;
        } else if (work & mask::kName) {
            r = NameCommand(info_.name, direction);
            work &= ~mask::kName;
            bits = mask::kName;
        } else if (work & mask::kSn) {
            r = SNCommand(info_.sn, direction);
            work &= ~mask::kSn;
            bits = mask::kSn;
        } else if (work & mask::kWake) {
            r = WakeCommand(&info_.wake, direction);
            work &= ~mask::kWake;
            bits = mask::kWake;
        } else if (work & mask::kPadc) {
            r = PADCCommand(&info_.padc, direction);
            work &= ~mask::kPadc;
            bits = mask::kPadc;
        } else if (work & mask::kPorts) {
            r = PortsCommand(info_.ports, direction);
            work &= ~mask::kPorts;
            bits = mask::kPorts;
        } else if (work & mask::kTrait) {
            work &= ~mask::kTrait;
            if (!reading) {
                last = 0;
                continue;
            }
            r = TraitCommand(&info_.traits, direction);
            bits = mask::kTrait;
        } else if (work & mask::kRmode) {
            r = RmodeCommand(&info_.rmode, direction);
            work &= ~mask::kRmode;
            bits = mask::kRmode;
        } else if (work & mask::kRadio) {
            if (reading && HasRadio() == 0) {
                r = result::kFeatureMissing;
            } else {
                uint32_t radio = work & mask::kRadio;
                r = MSRadioCommand(&info_.rch, &info_.rsch, info_.rver, direction, &radio);
                obtained |= radio & mask::kRadio;
            }
            work &= ~mask::kRadio;
        } else if (work & mask::kData) {
            r = DataParameterCommand(&info_.data, direction);
            work &= ~mask::kData;
            bits = mask::kData;
        } else if (work & mask::kAdcCal) {
            r = ADCcalCommand(info_.slope, info_.offset, direction);
            work &= ~mask::kAdcCal;
            bits = mask::kAdcCal;
        }
        // With only unknown bits left nothing ran; the next pass ends the loop.
        last = r;
        if (r > 0)
            obtained |= bits;
    }

    if (obtained == 0 && result == 1 && *settingsMask != 0)
        result = result::kFailed;
    *settingsMask = obtained;
    if (reading) {
        info_.valid |= obtained;
        *info = info_;
    }
    if (config_.progressReporting)
        ReportProgress(total, total, kPhaseFinished);
    return result;
}
