#include "InputFile.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct Reason {
    InputFileStatus status;
    int errorNumber;
    const char* text;
};

// Too large has two wordings; the table holds the firmware one.
constexpr Reason kReasons[] = {
    {InputFileStatus::NotFound, ENOENT, "was not found"},
    {InputFileStatus::NoAccess, EACCES, "cannot be read: permission denied"},
    {InputFileStatus::IsFolder, EISDIR, "is a folder, not a file"},
    {InputFileStatus::NotRegular, ENODEV, "is not a regular file (a device or a pipe)"},
    {InputFileStatus::TooLarge, EFBIG, "is too large for a firmware file"},
    {InputFileStatus::Unreadable, EIO, "could not be read"},
};

#ifdef _WIN32

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

#else

InputFileStatus FromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return InputFileStatus::NotFound;
    case EACCES:
    case EPERM:
        return InputFileStatus::NoAccess;
    case EISDIR:
        return InputFileStatus::IsFolder;
    default:
        return InputFileStatus::Unreadable;
    }
}

InputFileStatus Classify(const struct stat& info, uint64_t maxBytes)
{
    if (S_ISDIR(info.st_mode))
        return InputFileStatus::IsFolder;
    if (!S_ISREG(info.st_mode))
        return InputFileStatus::NotRegular;
    if (static_cast<uint64_t>(info.st_size) > maxBytes)
        return InputFileStatus::TooLarge;
    return InputFileStatus::Ok;
}

#endif

}  // namespace

InputFile::~InputFile()
{
    if (file_)
        std::fclose(file_);
}

uint64_t InputFile::MaxBytes(InputFileKind kind)
{
    return kind == InputFileKind::Firmware ? kMaxFirmwareBytes : kMaxSettingsBytes;
}

#ifdef _WIN32

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

#else

InputFileStatus InputFile::Open(const char* path, InputFileKind kind)
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!path || !*path)
        return InputFileStatus::NotFound;
    // Look before opening: opening a serial device can change its lines.
    struct stat info {};
    if (::stat(path, &info) != 0)
        return FromErrno(errno);
    InputFileStatus status = Classify(info, MaxBytes(kind));
    if (status != InputFileStatus::Ok)
        return status;
    // Non-blocking, so that a file swapped for a pipe meanwhile cannot hang
    // the open; fstat then judges what was really opened.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno);
    if (::fstat(fd, &info) != 0)
        status = FromErrno(errno);
    else
        status = Classify(info, MaxBytes(kind));
    if (status == InputFileStatus::Ok)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (status == InputFileStatus::Ok && !(file_ = ::fdopen(fd, "rb")))
        status = InputFileStatus::Unreadable;
    if (status != InputFileStatus::Ok) {
        ::close(fd);
        return status;
    }
    size_ = static_cast<uint64_t>(info.st_size);
    return InputFileStatus::Ok;
}

#endif

const char* InputFileProblem(InputFileStatus status, InputFileKind kind)
{
    if (status == InputFileStatus::TooLarge && kind == InputFileKind::Settings)
        return "is too large for a settings file";
    for (const Reason& reason : kReasons)
        if (reason.status == status)
            return reason.text;
    return "is fine";
}

int InputFileCode(InputFileStatus status)
{
    for (const Reason& reason : kReasons)
        if (reason.status == status)
            return -reason.errorNumber;
    return 0;
}

InputFileStatus InputFileStatusFromCode(int code)
{
    for (const Reason& reason : kReasons)
        if (-reason.errorNumber == code)
            return reason.status;
    return InputFileStatus::Ok;
}
