#include "NIVRA_Protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LoggerText.h"
#include "Result.h"
#include "Timing.h"

namespace {

constexpr uint32_t kReceiveSize = KeloSerial::kReadBufferSize;  // 2048
constexpr int32_t kMaxRetries = 12;
// Quiet time that ends the wait for a late answer: many byte times even at
// 250 baud, and short enough not to slow an exchange that went wrong.
constexpr uint32_t kQuietMs = 150;
// How long after its window a late answer may still be running on.
constexpr uint32_t kLateDrainExtraMs = 3000;
// An answer under way that has not gone on for this long has stalled.
constexpr uint32_t kStalledMs = 500;
// A silent try longer ago than this owes no answer any more.
constexpr uint32_t kOwedAnswerMs = 10000;

// Formats the line first, so that the log sees one finished text.
int LogFormatted(KeloLog* log, uint32_t level, const char* tag, const char* format, va_list args)
{
    if (!log)
        return 0;
    char text[2400];
    std::vsnprintf(text, sizeof text, format, args);
    return log->LogMessage(level, tag, "%s", text);
}

}  // namespace

NIVRA_Protocol::NIVRA_Protocol(KeloSerial& port, KeloLog* log) : port_(port), log_(log)
{
    answer_ = static_cast<char*>(std::malloc(kAnswerSize));
    if (answer_)
        answer_[0] = '\0';
    else
        initStatus_ = result::kOutOfMemory;
}

NIVRA_Protocol::~NIVRA_Protocol()
{
    if (connection_.linkType != 0) {
        config_.keepPortOpen = 0;
        DisconnectDevice();
    }
    std::free(answer_);
}

int NIVRA_Protocol::LogLine(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int logged = LogFormatted(log_, level, port_.PortName(), format, args);
    va_end(args);
    return logged;
}

int NIVRA_Protocol::LogTagged(uint32_t level, const char* tag, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int logged = LogFormatted(log_, level, tag, format, args);
    va_end(args);
    return logged;
}

bool NIVRA_Protocol::ReportProgress(uint32_t total, uint32_t done, int phase)
{
    return progressHook_ ? progressHook_(total, done, phase) : true;
}

void NIVRA_Protocol::TraceText(const char* text)
{
    if (traceHook_)
        traceHook_(text);
}

void NIVRA_Protocol::TraceSent(const char* text)
{
    if (config_.traceMode == 2 || config_.traceMode == 3)
        TraceText(text);
}

void NIVRA_Protocol::TraceReceived(const char* text)
{
    if (config_.traceMode == 1 || config_.traceMode == 3)
        TraceText(text);
}

void NIVRA_Protocol::ClearInfo()
{
    info_ = LoggerInfo{};
    resets_ = 0;
}

bool NIVRA_Protocol::Confirmed(const char* answer) const
{
    return logger_text::Contains(answer, info_.newFirmware ? "OK" : "\r>");
}

int32_t NIVRA_Protocol::Configure(ProtocolConfig* config, int direction)
{
    if (!config)
        return result::kBadArgument;
    if (direction == 0) {
        *config = config_;
        return 1;
    }
    // Validate everything before touching anything, so a refusal changes nothing.
    if (config->serialRetries < 0 || config->serialRetries > kMaxRetries ||
        config->radioRetries < 0 || config->radioRetries > kMaxRetries)
        return result::kOutOfRange;
    if (config->traceMode < 0 || config->traceMode > 3)
        return result::kOutOfRange;
    if (config->serialRetries == 0)
        config->serialRetries = 3;
    if (config->radioRetries == 0)
        config->radioRetries = 5;
    config_ = *config;
    retryCount_ = static_cast<uint32_t>(config_.serialRetries);
    return 1;
}

// A try that timed out may still be answered. Its answer must not be taken
// for the answer to what is sent next, so the next try or command first waits
// it out: until its terminator has come, or the window in which it may still
// come is over, and then the line has been quiet for a while. Bounded, so
// that a chattering line cannot hold us.
void NIVRA_Protocol::ExpectLateAnswer(uint32_t windowMs, char terminator)
{
    const uint32_t end = TickMs() + windowMs;
    if (!lateDue_ || static_cast<int32_t>(end - lateWindowEnd_) > 0)
        lateWindowEnd_ = end;
    lateDue_ = true;
    lateTerminator_ = terminator;
}

void NIVRA_Protocol::DropLateAnswer()
{
    if (!lateDue_)
        return;
    lateDue_ = false;
    const uint32_t start = TickMs();
    uint32_t dropped = 0;
    bool ended = false;
    for (;;) {
        // '\0' is never awaited: the wait collects for the whole quiet time.
        if (port_.KSWait(kQuietMs, '\0') < 0)
            break;
        const char* received = port_.ReadBuffer();
        const uint32_t heard = static_cast<uint32_t>(strnlen(received, kReceiveSize));
        if (heard && std::memchr(received, lateTerminator_, heard)) {
            ended = true;
            silentPending_ = false;  // the silent try's answer came: nothing is owed
        }
        dropped += heard;
        const int32_t past = static_cast<int32_t>(TickMs() - lateWindowEnd_);
        if (heard == 0 && (ended || past >= 0))
            break;
        if (past > static_cast<int32_t>(kLateDrainExtraMs)) {
            LogLine(30, "DeviceCommand: the line did not fall quiet within %u ms",
                    static_cast<unsigned>(ElapsedMs(start, TickMs())));
            break;
        }
    }
    port_.KSPurge(1);
    if (dropped)
        LogLine(30, "DeviceCommand dropped %u bytes that came after their time-out",
                static_cast<unsigned>(dropped));
}

int32_t NIVRA_Protocol::DeviceCommand(const char* command, char terminator, uint32_t timeoutMs,
                                      char* answer, uint32_t* answerLength, uint32_t* elapsedMs)
{
    const uint32_t start = TickMs();
    if (!answer_ || !command) {
        if (answer && answerLength && *answerLength)
            answer[0] = '\0';
        if (answerLength)
            *answerLength = 0;
        return answer_ ? -10 : -60;
    }
    const uint32_t commandLength = static_cast<uint32_t>(std::strlen(command));
    uint32_t tries = 0;
    uint32_t silent = 0;
    uint32_t bytesRead = 0;
    int32_t result = 1;

    while (tries < retryCount_) {
        ++tries;
        DropLateAnswer();
        port_.KSPurge(1);
        answer_[0] = '\0';
        bytesRead = 0;

        const uint32_t sent = TickMs();
        uint32_t written = 0;
        int r = port_.KSWrite(command, commandLength, &written);
        if (r < 0) {
            LogLine(30, "DeviceCommand got unexpected response (%d) from KCommWrite", r);
            result = r;
            break;
        }
        TraceSent(command);

        r = port_.KSWait(timeoutMs, terminator);
        if (r < 0) {
            LogLine(30, "DeviceCommand got unexpected response (%d) from KCommWait", r);
            result = r;
            break;
        }
        // A time-out is not an error: whatever came is judged below.
        r = port_.KSRead(answer_, kReceiveSize, &bytesRead);
        if (r < 0) {
            LogLine(30, "DeviceCommand got unexpected response (%d) from KCommRead", r);
            result = r;
            bytesRead = 0;
            break;
        }
        if (bytesRead == 0) {
            ++silent;
            silentPending_ = true;
            lastSilentSend_ = sent;
            // The answer may still come: the next try or command waits it out.
            ExpectLateAnswer(timeoutMs, terminator);
            PauseMs(50);
            result = result::kNoUsableAnswer;
            continue;
        }
        if (bytesRead > kReceiveSize)
            bytesRead = kReceiveSize;
        answer_[bytesRead] = '\0';
        TraceReceived(answer_);

        if (std::strstr(answer_, command)) {
            LogLine(1, "DeviceCommand is hearing echoed commands -- device is broken? Relay active?");
            result = result::kEchoed;
            break;
        }
        // Only an answer that reached its terminator is whole: a part of one
        // that was cut by the time-out may end anywhere, and its rest would
        // arrive as the answer to whatever is sent next.
        // The text stays in LastAnswer() for a caller that knows other
        // speakers than the interpreter (a loader's one-character answer).
        if (!std::memchr(answer_, terminator, bytesRead)) {
            LogLine(30, "DeviceCommand: the answer to \"%.*s\" did not end within %u ms (%u bytes)",
                    static_cast<int>(std::strcspn(command, "\r")), command,
                    static_cast<unsigned>(timeoutMs), static_cast<unsigned>(bytesRead));
            // Its rest follows at once unless the line stalled: a short window.
            ExpectLateAnswer(timeoutMs < kStalledMs ? timeoutMs : kStalledMs, terminator);
            result = kUnfinishedAnswer;
            break;
        }
        if (std::strstr(answer_, "ERROR") || std::strchr(answer_, '?') ||
            std::strstr(answer_, "Unsupported")) {
            result = result::kErrorAnswer;
            continue;
        }
        if (silentPending_) {
            // A try before this one (of this command or the one before) heard
            // nothing, and no late answer came for it: this may be that answer,
            // with this try's own answer as far behind it as this try was sent
            // after that one. Wait that out before the next command.
            silentPending_ = false;
            const uint32_t gap = ElapsedMs(lastSilentSend_, sent);
            if (gap < kOwedAnswerMs)
                ExpectLateAnswer(gap + kQuietMs, terminator);
        }
        result = 1;
        break;
    }

    if (elapsedMs)
        *elapsedMs = ElapsedMs(start, TickMs());
    if (silent == retryCount_)
        result = result::kNoAnswer;

    if (result < 0) {
        if (answer && answerLength && *answerLength)
            answer[0] = '\0';
        if (answerLength)
            *answerLength = 0;
        return result;
    }

    // The device may send NULs: the text ends at the first one.
    const uint32_t textLength = static_cast<uint32_t>(strnlen(answer_, bytesRead));
    if (answer && answerLength && *answerLength) {
        uint32_t copied = static_cast<uint32_t>(
            logger_text::CopyUntil(answer, *answerLength, answer_, *answerLength - 1));
        *answerLength = copied;
        if (copied < textLength)
            LogLine(30, "DeviceCommand got %d more bytes than expected",
                    static_cast<int>(textLength - copied));
    }
    if (bytesRead >= 3 && answer_[0] == '\r' && answer_[1] == '\r' && answer_[2] == '>') {
        LogLine(30, "DeviceCommand: device returned empty answer");
        return result::kBarePrompt;
    }
    return static_cast<int32_t>(bytesRead);
}

int32_t NIVRA_Protocol::CheckDeviceName(const char* name)
{
    static const char* const kWords[] = {
        "ERROR", "Unsupported", "volt", "show", "yes",  "hertz", "time",   "dump", "erase",
        "login", "logout",      "query", "help", "temp", "scan",  "term",   "ping", "post",
        "get",   "set",         "teltst", "ack", "nack", "OK",    "boot"};
    if (!name || !name[0])
        return result::kNameEmpty;
    if (strnlen(name, kLoggerNameSize) > kLoggerNameSize - 1)
        return result::kNameTooLong;
    for (const char* word : kWords)
        if (std::strcmp(name, word) == 0)
            return result::kNameReserved;
    for (const char* p = name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c == 0x7F || c == 0xFF)
            return result::kNameControlCharacter;
        if (std::strchr("?\\\"/<>*|:;,", c))
            return result::kNameForbiddenCharacter;
    }
    return 1;
}
