// InputFile::Open on POSIX: stat before opening, fstat after.
#include "InputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

}  // namespace

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

