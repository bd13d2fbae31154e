// The logger clock and the erase of its stored data.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "LoggerText.h"
#include "NIVRA_Protocol.h"
#include "Result.h"
#include "TimeSplit.h"
#include "Timing.h"

using logger_text::Contains;

namespace {

constexpr int64_t kEpoch2000 = 946684800;  // 2000-01-01 00:00 in seconds since 1970

}  // namespace

#define ELAPSED static_cast<int>(ElapsedMs(start, TickMs()))

int32_t NIVRA_Protocol::DeviceTime(int64_t* time, int direction)
{
    const uint32_t start = TickMs();
    if (!(info_.features & logger_feature::kClock)) {
        if (time)
            *time = -1;
        return result::kFailed;
    }
    if (direction != 0 && direction != 1)
        return result::kOutOfRange;
    char answer[48];
    char command[48];
    int32_t result;

    if (direction == 1) {
        std::tm when{};
        if (time && *time != 0) {
            // Device seconds are local wall-clock seconds: split them as UTC so
            // that the wall-clock fields stay what they are.
            if (!SplitUtc(static_cast<std::time_t>(*time + kEpoch2000), &when))
                return result::kOutOfRange;
        } else {
            errno = 0;
            std::time_t now = std::time(nullptr);
            if (now == static_cast<std::time_t>(-1) || !SplitLocal(now, &when)) {
                LogLine(1, "DeviceTime failed to get system time with error %d", errno);
                return result::kNotUnderstood;
            }
            if (time)
                *time = static_cast<int64_t>(now) + LocalTimeOffset() - kEpoch2000;
        }
        std::snprintf(command, sizeof command, "set -t %d:%d:%d\r", when.tm_hour, when.tm_min,
                      when.tm_sec);
        int32_t timeResult = Exchange(command, answer, sizeof answer);
        if (timeResult > 0) {
            timeResult = Confirmed(answer) ? 1 : -30;
            if (timeResult == 1)
                LogLine(30, "DeviceTime set device time to %d:%02d:%02d (%d ms)", when.tm_hour,
                        when.tm_min, when.tm_sec, ELAPSED);
        }
        const int year = when.tm_year + 1900, month = when.tm_mon + 1, day = when.tm_mday;
        std::snprintf(command, sizeof command, "set -d %d-%d-%d\r", year, month, day);
        result = Exchange(command, answer, sizeof answer);
        if (result > 0) {
            bool ok = Contains(answer, "OK") || (!info_.newFirmware && std::strchr(answer, '>'));
            result = ok ? 1 : -30;
            if (ok)
                LogLine(30, "DeviceTime set device date to %d-%d-%d (%d ms)", year, month, day, ELAPSED);
        }
        if (timeResult < 0 && result > 0)
            result = timeResult;
    } else {
        if (!time)
            return result::kBadArgument;
        result = Exchange(info_.newFirmware ? "get -t\r" : "time\r", answer, sizeof answer, 2000);
        if (result <= 0) {
            result = result::kNotUnderstood;
        } else {
            const char* label = std::strstr(answer, "Date\\Time:");
            const char* from = label ? label + std::strlen("Date\\Time:") : answer;
            int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
            if (std::sscanf(from, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 6) {
                result = result::kNotUnderstood;
            } else {
                std::tm local{};
                std::tm nowLocal{};
                std::time_t now = std::time(nullptr);
                local.tm_year = y - 1900;
                local.tm_mon = mo - 1;
                local.tm_mday = d;
                local.tm_hour = h;
                local.tm_min = mi;
                local.tm_sec = s;
                local.tm_isdst = SplitLocal(now, &nowLocal) ? nowLocal.tm_isdst : -1;
                std::time_t seconds = std::mktime(&local);
                if (seconds == static_cast<std::time_t>(-1)) {
                    *time = 0;
                    result = result::kNotUnderstood;
                } else {
                    *time = static_cast<int64_t>(seconds) + LocalTimeOffset() - kEpoch2000;
                    result = 1;
                }
                LogLine(30, "DeviceTime found device date/time %d-%d-%d %d:%02d:%02d or %ld (%d ms)", y,
                        mo, d, h, mi, s, static_cast<long>(*time), ELAPSED);
            }
        }
    }
    if (result < 0) {
        if (direction == 0)
            *time = -1;
        LogLine(1, "DeviceTime failed with error %d (%d ms)", result, ELAPSED);
    }
    return result;
}

int32_t NIVRA_Protocol::EraseData()
{
    const uint32_t start = TickMs();
    char current[kLoggerNameSize] = {};
    const bool newFirmware = info_.newFirmware != 0;
    int32_t r = newFirmware ? NameCommand(current, 0) : ParseShowCommand(current);
    if (r < 0) {
        LogLine(1, "EraseData failed checking the identity of device (error %d)", r);
        return result::kNameUnchecked;
    }
    if (std::strncmp(current, info_.name, kLoggerNameSize - 1) != 0) {
        LogLine(1, "EraseData: Identity mismatch. Class: %s, Device: %s", info_.name, current);
        return result::kNameUnchecked;
    }
    char answer[32];
    int32_t result = Exchange("yes\r", answer, sizeof answer, 6000, newFirmware ? '>' : '!');
    if (result > 0) {
        if (Contains(answer, "OK")) {
            LogLine(30, "InitializeDevice erased device data (%d ms)", ELAPSED);
            return 1;
        }
        result = Contains(answer, "DataFlash FAIL") ? -65 : -30;
    } else if (result == result::kErrorAnswer || result::IsNoAnswer(result)) {
        result = result::kDataMemoryErrors;
    }
    if (result == result::kDataMemoryErrors)
        LogLine(1, "EraseData failed due to a broken DataFlash (%d ms)", ELAPSED);
    else
        LogLine(1, "EraseData failed with error %d (%d ms)", result, ELAPSED);
    return result;
}
