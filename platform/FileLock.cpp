#include "FileLock.h"

#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {
constexpr std::size_t kMaxHolderText = 1024;
}

long FileLock::ProcessId()
{
#if defined(_WIN32)
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(::getpid());
#endif
}

FileLock::~FileLock()
{
    Unlock();
}

std::string FileLock::ReadHolder(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    char text[kMaxHolderText];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    return std::string(text, length);
}

#if defined(_WIN32)

namespace {
// A byte far past any text: locking it leaves the text readable by others.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
}

int FileLock::TryLock(const std::string& path)
{
    if (Held())
        return path == path_ ? 1 : -EINVAL;
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(wideLength > 0 ? static_cast<std::size_t>(wideLength) : 1, L'\0');
    if (wideLength <= 0 || MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), wideLength) <= 0)
        return -static_cast<int>(ERROR_INVALID_NAME);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -static_cast<int>(GetLastError());
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? 0 : -static_cast<int>(error);
    }
    handle_ = handle;
    path_ = path;
    return 1;
}

bool FileLock::WriteHolder(const std::string& text)
{
    if (!Held())
        return false;
    HANDLE handle = static_cast<HANDLE>(handle_);
    LARGE_INTEGER zero{};
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(text.size() < kMaxHolderText ? text.size() : kMaxHolderText);
    return SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN) && SetEndOfFile(handle) &&
           WriteFile(handle, text.data(), length, &written, nullptr) && written == length;
}

void FileLock::Unlock()
{
    if (!Held())
        return;
    HANDLE handle = static_cast<HANDLE>(handle_);
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(handle, 0, 1, 0, &at);
    CloseHandle(handle);
    handle_ = nullptr;
    path_.clear();
}

bool FileLock::Held() const
{
    return handle_ != nullptr;
}

#else

int FileLock::TryLock(const std::string& path)
{
    if (Held())
        return path == path_ ? 1 : -EINVAL;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -errno;
    // Each open is its own lock holder, so two threads of one program
    // exclude each other as two programs do.
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? 0 : -error;
    }
    fd_ = fd;
    path_ = path;
    return 1;
}

bool FileLock::WriteHolder(const std::string& text)
{
    if (!Held())
        return false;
    const std::size_t length = text.size() < kMaxHolderText ? text.size() : kMaxHolderText;
    return ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, text.data(), length, 0) == static_cast<ssize_t>(length);
}

void FileLock::Unlock()
{
    if (!Held())
        return;
    // Closing the descriptor drops the lock; the file stays for the next holder.
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

bool FileLock::Held() const
{
    return fd_ >= 0;
}

#endif
