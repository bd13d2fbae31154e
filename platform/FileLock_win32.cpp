// FileLock on Windows: LockFileEx on one byte far past the holder's text.
#include "FileLock.h"

#include <cerrno>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    path_ = path;
    return 1;
}

bool FileLock::WriteHolder(const std::string& text)
{
    if (!Held())
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(handle_);
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
    HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(handle, 0, 1, 0, &at);
    CloseHandle(handle);
    handle_ = kNotHeld;
    path_.clear();
}
