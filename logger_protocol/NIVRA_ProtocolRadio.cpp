// Radio channel settings: through the logger's interpreter, or directly on a
// Tz9 radio modem with its AT command set.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "LoggerText.h"
#include "NIVRA_Protocol.h"
#include "Result.h"
#include "Timing.h"

using logger_text::Contains;
namespace mask = logger_mask;

namespace {

constexpr uint32_t kShortAnswer = 32;

bool FourHexDigits(const char* text)
{
    if (std::strlen(text) != 4)
        return false;
    for (int i = 0; i < 4; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// Where a value starts in an answer that may carry the modem's "OK" and its
// line break first.
const char* AfterModemOk(const char* answer)
{
    const char* k = std::strchr(answer, 'K');
    return k ? logger_text::Skip(k, 2) : answer;
}

}  // namespace

#define ELAPSED static_cast<int>(ElapsedMs(start, TickMs()))

int32_t NIVRA_Protocol::Tz9Config(int32_t* rch, int32_t* rsch, char* rver, int direction,
                                  uint32_t* radioMask)
{
    const uint32_t start = TickMs();
    if (!radioMask)
        return result::kBadArgument;
    const uint32_t asked = *radioMask;
    char answer[kShortAnswer];
    char command[32];
    int failures = 0;
    int32_t result = 1;
    uint32_t done = 0;

    int32_t r = Exchange("+++", answer, sizeof answer, 1500, 'K');
    if (r > 0 && !Contains(answer, "OK"))
        r = result::kFeatureMissing;
    if (r < 0) {
        LogLine(1, "Tz9Config failed to get into AT command mode: %d (%d ms)", r, ELAPSED);
        *radioMask = 0;
        return result::kFeatureMissing;
    }

    if (direction == 1) {
        struct Item {
            uint32_t bit;
            int32_t* value;
            const char* format;
            const char* logText;
            int failure;
        } items[] = {{mask::kRch, rch, "ATHP%X\r", "Tz9Config set rch to %d (%d ms)", 1},
                     {mask::kRsch, rsch, "ATDT%X\r", "Tz9Config set rsch to %d (%d ms)", 2}};
        for (const Item& item : items) {
            if (!(asked & item.bit) || !item.value)
                continue;
            std::snprintf(command, sizeof command, item.format, static_cast<unsigned>(*item.value));
            r = Exchange(command, answer, sizeof answer, 1000, 'K');
            if (r < 0) {
                failures += item.failure;
                result = r;
            } else if (Contains(answer, "OK")) {
                LogLine(30, item.logText, *item.value, ELAPSED);
                done |= item.bit;
            } else {
                failures += item.failure;
            }
        }
        r = Exchange("ATWR\r", answer, sizeof answer, 2000, 'K');
        if (r < 0) {
            failures += 8;
            result = r;
        } else if (Contains(answer, "OK")) {
            LogLine(30, "Tz9Config saved configuration (%d ms)", ELAPSED);
            result = 1;
        } else {
            failures += 8;
        }
    } else {
        struct Item {
            uint32_t bit;
            int32_t* value;
            const char* command;
            const char* found;
            const char* missing;
            int failure;
        } items[] = {{mask::kRch, rch, "ATHP\r", "Tz9Config found rch %d (%d ms)",
                      "Tz9Config could not find rch (%d ms)", 1},
                     {mask::kRsch, rsch, "ATDT\r", "Tz9Config found rsch %d (%d ms)",
                      "Tz9Config could not find rsch (%d ms)", 2}};
        for (const Item& item : items) {
            if (!(asked & item.bit) || !item.value)
                continue;
            r = Exchange(item.command, answer, sizeof answer, 1000, '\r');
            unsigned value = 0;
            if (r < 0) {
                failures += item.failure;
                result = r;
            } else if (std::sscanf(answer, "%x", &value) == 1) {
                *item.value = static_cast<int32_t>(value);
                done |= item.bit;
                LogLine(30, item.found, *item.value, ELAPSED);
            } else {
                LogLine(30, item.missing, ELAPSED);
                failures += item.failure;
            }
        }
        if ((asked & mask::kRver) && rver) {
            r = Exchange("ATVR\r", answer, sizeof answer, 1000, '\r');
            char found[kLoggerRverSize] = {};
            if (r < 0) {
                failures += 4;
                result = r;
            } else if (std::sscanf(answer, "%8s", found) == 1) {
                std::memcpy(rver, found, sizeof found);
                done |= mask::kRver;
                LogLine(30, "Tz9Config found rver %s (%d ms)", rver, ELAPSED);
            } else {
                LogLine(30, "Tz9Config could not find rver (%d ms)", ELAPSED);
                failures += 4;
            }
        }
    }

    r = Exchange("ATCN\r", answer, sizeof answer, 1000, 'K');
    if (r > 0 && !Contains(answer, "OK"))
        r = result::kFailed;
    if (r < 0) {
        LogLine(1, "Tz9Config failed to get out of AT command mode: %d (%d ms)", r, ELAPSED);
        return r;
    }
    if (result < 0 || failures != 0) {
        if (done)
            result = result::kSomeSettingsMissing;
        LogLine(1, "Tz9Config failed with error %d and %d (%d ms)", result, failures, ELAPSED);
    }
    *radioMask = done;
    PauseMs(100);
    return result;
}

void NIVRA_Protocol::RadioChannelRead(const char* command, const char* what, uint32_t bit,
                                      uint32_t limit, int32_t* value, int32_t* result,
                                      uint32_t* done, uint32_t* missing, uint32_t start)
{
    char answer[kShortAnswer];
    for (uint32_t attempt = 0; attempt < retryCount_; ++attempt) {
        int32_t r = Exchange(command, answer, sizeof answer, 2000);
        if (r == result::kBarePrompt) {
            *result = 0;
            *missing |= bit;
            continue;
        }
        if (r < 0) {
            *missing |= bit;
            *result = r;
            continue;
        }
        if (Contains(answer, "No Radio")) {
            *result = result::kNoRadio;
            *missing |= bit;
            break;
        }
        unsigned found = 0;
        if (std::sscanf(AfterModemOk(answer), "%x", &found) != 1) {
            *missing |= bit;
            continue;
        }
        if (found <= limit) {
            *value = static_cast<int32_t>(found);
            *done |= bit;
            *missing &= ~bit;
            LogLine(30, "MSRadioCommand found %s %d (%d ms)", what, *value, ELAPSED);
            break;
        }
    }
    if (*missing & bit)
        LogLine(30, "MSRadioCommand could not find %s (%d ms)", what, ELAPSED);
}

int32_t NIVRA_Protocol::MSRadioCommand(int32_t* rch, int32_t* rsch, char* rver, int direction,
                                       uint32_t* radioMask)
{
    const uint32_t start = TickMs();
    if (!radioMask)
        return result::kBadArgument;
    if (!(info_.features & logger_feature::kRadio)) {
        *radioMask = 0;
        return result::kFailed;
    }

    if (connection_.linkType == kLinkRadio) {
        if (direction == 1) {
            *radioMask = 0;
            LogLine(30, "MSRadioCommand can't set radio parameters while connected over the radio");
            return result::kRefused;
        }
        if (!rch || !rsch) {
            *radioMask = 0;
            return result::kBadArgument;
        }
        if (connection_.radioKnown) {
            *rch = connection_.rch;
            *rsch = connection_.rsch;
            if (rver)
                rver[0] = '\0';
            *radioMask = mask::kRch | mask::kRsch;
            LogLine(30, "MSRadioCommand knows the RCH is %d and RSCH is %d (can't get RVER)", *rch, *rsch);
            return 1;
        }
        *radioMask = mask::kRch | mask::kRsch;
        int32_t r = Tz9Config(rch, rsch, nullptr, 0, radioMask);
        if (rver)
            rver[0] = '\0';
        LogLine(30, "MSRadioCommand asked the Tz9 and found the RCH is %d and RSCH is %d (can't get RVER)",
                *rch, *rsch);
        return r;
    }

    if (!info_.newFirmware) {
        if (info_.model != kModelQx7) {
            *radioMask = 0;
            return result::kNoAnswer;
        }
        // "term" hands the line to the logger's own modem until the next "term".
        uint32_t written = 0;
        port_.KSWrite("term\r", 5, &written);
        TraceSent("term\r");
        PauseMs(500);
        int32_t r = Tz9Config(rch, rsch, rver, direction, radioMask);
        PauseMs(500);
        uint32_t none = 0;
        DeviceCommand("term\r", '>', 1000, nullptr, &none, nullptr);
        return r;
    }

    const uint32_t asked = *radioMask;
    uint32_t done = 0;
    uint32_t missing = 0;
    int32_t result = 1;
    char answer[kShortAnswer];
    char command[32];

    if (direction == 1) {
        const char* confirmation = info_.model == kModelQx7 ? "OK\r\rOK" : "OK";
        struct Item {
            uint32_t bit;
            int32_t* value;
            const char* format;
            const char* logText;
        } items[] = {{mask::kRch, rch, "set -rch %X\r", "MSRadioCommand set rch to %d (%d ms)"},
                     {mask::kRsch, rsch, "set -rsch %X\r", "MSRadioCommand set rsch to %d (%d ms)"}};
        for (const Item& item : items) {
            if (!(asked & item.bit) || !item.value)
                continue;
            std::snprintf(command, sizeof command, item.format, static_cast<unsigned>(*item.value));
            for (uint32_t attempt = 0; attempt < retryCount_; ++attempt) {
                int32_t r = Exchange(command, answer, sizeof answer, 2000);
                if (r < 0) {
                    missing |= item.bit;
                    result = r;
                } else if (Contains(answer, confirmation)) {
                    LogLine(30, item.logText, *item.value, ELAPSED);
                    done |= item.bit;
                    missing &= ~item.bit;
                    break;
                } else {
                    missing |= item.bit;
                }
            }
        }
    } else {
        if ((asked & mask::kRver) && rver) {
            for (uint32_t attempt = 0; attempt < retryCount_; ++attempt) {
                int32_t r = Exchange("get -rver\r", answer, sizeof answer, 2000);
                if (r == result::kBarePrompt) {
                    result = 0;
                    continue;
                }
                if (r < 0) {
                    missing |= mask::kRver;
                    result = r;
                    continue;
                }
                if (Contains(answer, "No Radio")) {
                    result = result::kNoRadio;
                    missing |= mask::kRver;
                    break;
                }
                char found[kLoggerRverSize] = {};
                if (std::sscanf(AfterModemOk(answer), "%8s", found) != 1) {
                    missing |= mask::kRver;
                    continue;
                }
                if (found[0] == '0' && found[1] == '0') {
                    result = result::kNoRadio;
                    missing |= mask::kRver;
                    rver[0] = '\0';
                    break;
                }
                if (FourHexDigits(found)) {
                    std::memcpy(rver, found, sizeof found);
                    LogLine(30, "MSRadioCommand found rver %s (%d ms)", rver, ELAPSED);
                    done |= mask::kRver;
                    missing &= ~mask::kRver;
                    break;
                }
            }
            if (missing & mask::kRver)
                LogLine(30, "MSRadioCommand could not find rver (%d ms)", ELAPSED);
        }
        if ((asked & mask::kRch) && rch && result != result::kNoRadio)
            RadioChannelRead("get -rch\r", "rch", mask::kRch, 6, rch, &result, &done, &missing, start);
        if ((asked & mask::kRsch) && rsch && result != result::kNoRadio)
            RadioChannelRead("get -rsch\r", "rsch", mask::kRsch, 0xFFFF, rsch, &result, &done, &missing,
                             start);
    }

    if ((result == 0 || result == result::kNoRadio) && done == 0) {
        LogLine(30, "MSRadioCommand couldn't find a radio (%d ms)", ELAPSED);
    } else if (result < 0 || missing) {
        if (done)
            result = result::kSomeSettingsMissing;
        LogLine(1, "MSRadioCommand failed with error %d setting %d (%d ms)", result,
                static_cast<int>(missing), ELAPSED);
    }
    *radioMask = done;
    return result;
}
