#include "KeloBSLHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BslLog.h"
#include "Result.h"
#include "Timing.h"

namespace {

constexpr const char* kAccessWord = "ZUVA";
constexpr uint32_t kInvocationCapacity = 31;

bool Contains(const char* text, uint32_t length, const char* needle)
{
    std::size_t n = std::strlen(needle);
    for (uint32_t i = 0; i + n <= length; ++i)
        if (std::memcmp(text + i, needle, n) == 0)
            return true;
    return false;
}

}  // namespace

KeloBSLHost::KeloBSLHost(KeloSerial& port, KeloLog* log, std::shared_ptr<const FirmwareImage> image)
    : port_(port), log_(log), image_(std::move(image))
{
}

KeloBSLHost::~KeloBSLHost()
{
    BSLDisconnect();
}

int KeloBSLHost::BSLConnect(const char* portName, bool progress, uint32_t tries)
{
    if (!portName || !*portName)
        return result::kBadArgument;
    progress_ = progress;
    tries_ = tries;

    int result = port_.KSOpen(portName, 9600);
    if (result < 0) {
        BSL_LOG(1, "BSLConnect received error while opening serial port (%d)", result);
        return result;
    }
    portOpen_ = true;
    PauseMs(1000);

    result = 1;
    char answer[kAnswerCapacity + 1];
    for (uint32_t attempt = 0; attempt < tries_; ++attempt) {
        int r = BSLInvocation();
        if (r < 0) {
            result = r;
            break;
        }
        uint32_t elapsed = 0;
        r = BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed);
        if (r < 0) {
            result = r;
            continue;
        }
        if (std::strstr(answer, "ERROR")) {
            result = result::kLoaderSilent;
            continue;
        }
        int version = 0;
        if (std::sscanf(answer, "+%d+", &version) == 1) {
            bootloaderVersion_ = version;
            result = version;
            break;
        }
    }

    if (result < 0) {
        BSLDisconnect();
        BSL_LOG(1, "BSLConnect failed to connect to device (error %d)", result);
    } else {
        // A "+" answer without a number keeps the version of an earlier connect.
        BSL_LOG(10, "BSLConnect connected to device running KeloBSL version %d", bootloaderVersion_);
    }
    return result;
}

int KeloBSLHost::BSLDisconnect()
{
    if (!portOpen_)
        return 0;
    int result = port_.KSClose();
    portOpen_ = false;
    PauseMs(100);
    return result;
}

int KeloBSLHost::BSLInvocation()
{
    char answer[kInvocationCapacity + 1];
    char command[16];
    int result = result::kNoUsableAnswer;
    uint32_t succeededOn = 0;
    bool alreadyActive = false;

    // One request of the exchange: purge, send, pause, read what came.
    auto exchange = [&](const char* text, uint32_t pauseMs, uint32_t* got) -> int {
        port_.KSPurge(1);
        std::memset(answer, 0, sizeof answer);
        uint32_t written = 0;
        int r = port_.KSWrite(text, static_cast<uint32_t>(std::strlen(text)), &written);
        if (r < 0)
            return r;
        PauseMs(pauseMs);
        r = port_.KSRead(answer, kInvocationCapacity, got);
        if (r < 0)
            return r;
        answer[*got] = '\0';
        return 0;
    };

    std::snprintf(command, sizeof command, "boot %s\r", kAccessWord);
    for (uint32_t attempt = 1; attempt <= tries_; ++attempt) {
        uint32_t got = 0;
        int r = exchange(command, 1000, &got);
        if (r < 0) {
            result = r;
            break;
        }
        if (Contains(answer, got, "ERROR")) {
            result = result::kLoaderSilent;
            continue;
        }
        if (Contains(answer, got, "KeloBSL MISSING")) {
            result = result::kNoLoader;
            break;
        }
        if (Contains(answer, got, "?\r")) {
            alreadyActive = true;
            break;
        }
        if (got == 0) {
            result = result::kNoLoader;
            continue;
        }
        char prompt[2] = {'\r', '\0'};
        if ((r = exchange(prompt, 100, &got)) < 0) {
            result = r;
            break;
        }
        if (answer[0] != '$') {
            result = result::kNoLoader;
            continue;
        }
        std::snprintf(prompt, sizeof prompt, "%c", 'P');
        if ((r = exchange(prompt, 100, &got)) < 0) {
            result = r;
            break;
        }
        if (answer[0] == '#') {
            result = 1;
            succeededOn = attempt;
            break;
        }
        result = result::kLoaderSilent;
    }

    if (alreadyActive) {
        BSL_LOG(10, "BSLInvocation found the KeloBSL already active");
        return 1;
    }
    if (result > 0)
        BSL_LOG(10, "BSLInvocation successful (%d tries)", static_cast<int>(succeededOn));
    else
        BSL_LOG(1, "BSLInvocation failed with error %d", result);
    return result;
}

int KeloBSLHost::BSLCommand(char command, const uint32_t* words, uint32_t count, char endChar,
                            char* answer, uint32_t* elapsedMs)
{
    if (!port_.IsOpen())
        return result::kNoAnswer;
    if (count > kMaxPayloadWords)
        return result::kOutOfRange;
    if (count && !words)
        return result::kBadArgument;
    char spare[kAnswerCapacity + 1];
    if (!answer)
        answer = spare;
    for (uint32_t i = 0; i < count; ++i)
        std::snprintf(frame_ + 1 + 4 * i, 5, "%04X", static_cast<unsigned>(words[i] & 0xFFFF));
    int result = SendFrame(command, 4 * count, endChar, answer, elapsedMs);
    if (result == result::kFailed || result == result::kNoAnswer || result > 0)
        return result;
    return 1;  // an answer that is neither acceptance nor refusal
}

int KeloBSLHost::BSLCommand(char command, const char* payload, uint32_t length, char endChar,
                            char* answer, uint32_t* elapsedMs)
{
    if (!port_.IsOpen())
        return result::kNoAnswer;
    if (length > kMaxPayloadChars)
        return result::kOutOfRange;
    if (!answer || (!payload && command != 'g'))
        return result::kBadArgument;
    if (payload && length)
        std::memcpy(frame_ + 1, payload, length);
    else
        length = 0;
    int result = SendFrame(command, length, endChar, answer, elapsedMs);
    return result == 0 ? -1 : result;
}

// Completes the frame whose payload is already in place, sends it and judges
// the answer: the count of answer characters when it starts with "+", -1 when
// refused ("-" or "?"), -21 without any answer, 0 for anything else.
int KeloBSLHost::SendFrame(char command, uint32_t payloadLength, char endChar, char* answer,
                           uint32_t* elapsedMs)
{
    frame_[0] = command;
    frame_[1 + payloadLength] = '.';
    int sum = 0;
    for (uint32_t i = 0; i < payloadLength + 2; ++i)
        sum += static_cast<signed char>(frame_[i]);
    sum %= 65535;
    if (sum < 0)
        sum += 65535;  // bytes above 0x7F must not widen the checksum field
    std::snprintf(frame_ + 2 + payloadLength, 6, "%04X\r", static_cast<unsigned>(sum));
    const uint32_t frameLength = payloadLength + 7;

    const uint32_t start = TickMs();
    port_.KSPurge(1);
    answer[0] = '\0';
    uint32_t got = 0;
    int result = 0;
    uint32_t written = 0;
    int r = port_.KSWrite(frame_, frameLength, &written);
    if (r < 0) {
        BSL_LOG(1, "BSLCommand got unexpected response (%d) from KCommWrite", r);
        result = result::kNoAnswer;
    } else if ((r = port_.KSWait(kCommandTimeoutMs, endChar)) < 0) {
        BSL_LOG(1, "BSLCommand got unexpected response (%d) from KCommWait", r);
        result = result::kNoAnswer;
    } else if ((r = port_.KSRead(answer, kAnswerCapacity, &got)) < 0) {
        BSL_LOG(1, "BSLCommand got unexpected response (%d) from KCommRead", r);
        result = result::kNoAnswer;
        got = 0;
    }
    answer[got] = '\0';
    if (got == 0)
        result = result::kNoAnswer;
    if (elapsedMs)
        *elapsedMs = ElapsedMs(start, TickMs());
    if (result < 0)
        return result;
    if (answer[0] == '+')
        return static_cast<int>(got);
    if (answer[0] == '-' || answer[0] == '?')
        return result::kFailed;
    return 0;
}
