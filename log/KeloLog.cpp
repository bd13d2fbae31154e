#include "KeloLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool LocalTime(std::time_t t, std::tm* out)
{
#if defined(_WIN32)
    return localtime_s(out, &t) == 0;
#else
    return localtime_r(&t, out) != nullptr;
#endif
}

}  // namespace

KeloLog::KeloLog(const char* path, uint32_t level, bool erase)
{
    const char* chosen = path ? path : "error.txt";
    std::size_t n = std::strlen(chosen);
    path_ = static_cast<char*>(std::malloc(n + 1));
    if (path_)
        std::memcpy(path_, chosen, n + 1);
    level_ = IsValidLevel(level) ? level : kErrors;
    if (erase && path_)
        std::remove(path_);  // a failure (no file yet) does not matter
}

KeloLog::~KeloLog()
{
    std::free(path_);
}

bool KeloLog::IsValidLevel(uint32_t level)
{
    return level == kSilent || level == kErrors || level == kSummary || level == kVerbose ||
           level == kTrace;
}

bool KeloLog::SetLevel(uint32_t level)
{
    if (!IsValidLevel(level))
        return false;
    level_ = level;
    return true;
}

int KeloLog::FormatTimeStamp(const std::tm& local, char* out, std::size_t size)
{
    int month = local.tm_mon;
    if (month < 0 || month > 11)
        month = 0;
    return std::snprintf(out, size, "%d %s %d %d:%02d:%02d", local.tm_mday, kMonths[month],
                         local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

int KeloLog::LogMessage(uint32_t level, const char* tag, const char* format, ...)
{
    if (level > level_ || !path_)
        return 0;
    std::FILE* file = std::fopen(path_, "ab");
    if (!file)
        return 0;

    std::time_t now = clock_ ? clock_() : std::time(nullptr);
    std::tm local{};
    LocalTime(now, &local);
    char stamp[64];
    FormatTimeStamp(local, stamp, sizeof stamp);

    int written = std::fprintf(file, "%s - %s: ", stamp, tag ? tag : "");
    va_list args;
    va_start(args, format);
    int body = format ? std::vfprintf(file, format, args) : 0;
    va_end(args);
    int end = std::fprintf(file, "\r\n");
    std::fclose(file);

    int total = 0;
    for (int part : {written, body, end})
        if (part > 0)
            total += part;
    return total;
}

int KeloLog::LogFileSize() const
{
    if (!path_)
        return -EINVAL;
    std::FILE* file = std::fopen(path_, "r");
    if (!file)
        return errno ? -errno : -ENOENT;
    std::fflush(file);
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    int error = errno;
    std::fclose(file);
    if (size < 0)
        return error ? -error : -EIO;
    return static_cast<int>(size);
}
