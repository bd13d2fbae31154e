#include "UpdateHistory.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Threads of one process take turns; other processes are kept apart by the
// single appending write.
std::mutex& AppendMutex()
{
    static std::mutex mutex;
    return mutex;
}

#if defined(_WIN32)

struct FileHandle {
    HANDLE handle;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

std::string WindowsError(const char* what)
{
    return std::string(what) + " (Windows error " + std::to_string(GetLastError()) + ")";
}

bool AppendLine(const std::string& path, const std::string& line, std::string* error)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    FileHandle file{CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        *error = WindowsError("cannot open it");
        return false;
    }
    std::string text = line;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.handle, &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
        char last = '\n';
        DWORD got = 0;
        if (ReadFile(file.handle, &last, 1, &got, &at) && got == 1 && last != '\n')
            text.insert(0, 1, '\n');
    }
    DWORD written = 0;
    if (!WriteFile(file.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        *error = WindowsError("cannot write to it");
        return false;
    }
    return true;
}

#else

struct FileHandle {
    int fd;
    ~FileHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool AppendLine(const std::string& path, const std::string& line, std::string* error)
{
    FileHandle file{::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644)};
    if (file.fd < 0) {
        *error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    std::string text = line;
    struct stat st {};
    char last = '\n';
    if (::fstat(file.fd, &st) == 0 && st.st_size > 0 && ::pread(file.fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        text.insert(0, 1, '\n');
    const ssize_t written = ::write(file.fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        *error = written < 0 ? std::string("cannot write to it: ") + std::strerror(errno)
                             : "only part of the line was written (disk full?)";
        return false;
    }
    return true;
}

#endif

}  // namespace

UpdateHistory::UpdateHistory(const std::string& dataFolder)
    : path_((std::filesystem::path(dataFolder.empty() ? "." : dataFolder) / kFileName).string())
{
}

bool UpdateHistory::Append(const UpdateRecord& record, std::string* error) const
{
    const std::string line = record.ToJson() + "\n";
    std::lock_guard<std::mutex> lock(AppendMutex());
    return AppendLine(path_, line, error);
}
