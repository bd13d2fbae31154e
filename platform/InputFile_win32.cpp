// InputFile::Open on Windows: the file's type and size from its handle.
#include "InputFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

InputFileStatus FromLastError()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return InputFileStatus::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return InputFileStatus::NoAccess;
    default:
        return InputFileStatus::Unreadable;
    }
}

}  // namespace

InputFileStatus InputFile::Open(const char* path, InputFileKind kind)
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!path || !*path)
        return InputFileStatus::NotFound;
    // Backup semantics let a folder open, so it can be told apart from a
    // file that is merely locked.
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FromLastError();
    InputFileStatus status = InputFileStatus::Ok;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK)
        status = InputFileStatus::NotRegular;  // COM1, CON, a pipe
    else if (!GetFileInformationByHandle(h, &info))
        status = FromLastError();
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        status = InputFileStatus::IsFolder;
    else if (((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > MaxBytes(kind))
        status = InputFileStatus::TooLarge;
    if (status != InputFileStatus::Ok) {
        CloseHandle(h);
        return status;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return InputFileStatus::Unreadable;
    }
    file_ = _fdopen(fd, "rb");
    if (!file_) {
        _close(fd);
        return InputFileStatus::Unreadable;
    }
    size_ = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return InputFileStatus::Ok;
}

