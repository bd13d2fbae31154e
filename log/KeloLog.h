// KeloLog: the one diagnostic log of the updater. Every line is appended with
// its own open/append/close so that a crash never loses a line already written
// and another program may copy or delete the file at any time.
#pragma once

#include <cstdint>
#include <ctime>

#if defined(__GNUC__)
#define KELO_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KELO_PRINTF(fmt, args)
#endif

class KeloLog {
public:
    // Levels: 0 silent, 1 errors, 10 summaries, 30 verbose, 40 serial trace.
    static constexpr uint32_t kSilent = 0;
    static constexpr uint32_t kErrors = 1;
    static constexpr uint32_t kSummary = 10;
    static constexpr uint32_t kVerbose = 30;
    static constexpr uint32_t kTrace = 40;

    // path null means "error.txt" in the current directory. An invalid level
    // becomes 1. With erase set, an existing file is deleted now.
    KeloLog(const char* path, uint32_t level, bool erase);
    ~KeloLog();
    KeloLog(const KeloLog&) = delete;
    KeloLog& operator=(const KeloLog&) = delete;

    bool SetLevel(uint32_t level);
    uint32_t Level() const { return level_; }
    const char* Path() const { return path_; }

    // Returns the number of characters written, 0 when filtered or the file
    // cannot be opened.
    int LogMessage(uint32_t level, const char* tag, const char* format, ...) KELO_PRINTF(4, 5);

    // Size of the log file in bytes, or the negated C error number.
    int LogFileSize() const;

    // "7 Dec 2026 9:05:03": the time stamp of one line, month names fixed in
    // English whatever the locale. Returns the length written.
    static int FormatTimeStamp(const std::tm& local, char* out, std::size_t size);

    // Replaces the wall clock (tests only); null restores std::time.
    void SetClockForTesting(std::time_t (*clock)()) { clock_ = clock; }

private:
    static bool IsValidLevel(uint32_t level);

    char* path_ = nullptr;
    uint32_t level_ = kErrors;
    std::time_t (*clock_)() = nullptr;
};
