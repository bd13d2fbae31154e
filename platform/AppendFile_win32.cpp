#include "AppendFile.h"

#include <windows.h>

namespace {

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

}  // namespace

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
