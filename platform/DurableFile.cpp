#include "DurableFile.h"

#include "Timing.h"

#include <atomic>
#include <cerrno>
#include <cstring>

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

// Two writers of one process (several ports) never share a temporary name.
std::atomic<unsigned> tempCounter{0};

unsigned ProcessId()
{
#ifdef _WIN32
    return static_cast<unsigned>(GetCurrentProcessId());
#else
    return static_cast<unsigned>(::getpid());
#endif
}

int32_t Negated(int error)
{
    return error > 0 ? -error : -EIO;
}

#ifdef _WIN32

// The program's paths are in the process code page (UTF-8 where the
// manifest asks for it), as the other file calls take them; converted the
// same way the "A" calls would, so the same names are meant.
bool Wide(const char* path, wchar_t* out, int size)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, out, size) > 0;
}

int32_t FromLastError()
{
    switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return -EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return -ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return -EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return -ENOENT;
    case ERROR_WRITE_PROTECT: return -EROFS;
    case ERROR_FILENAME_EXCED_RANGE: return -ENAMETOOLONG;
    default: return -EIO;
    }
}

#else

// Flushes the folder that holds path, so that the rename itself survives a
// power loss. File systems that cannot sync a folder say EINVAL: nothing more
// can be done there.
int32_t SyncFolderOf(const char* path)
{
    char folder[DurableFile::kMaxPath + 1];
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        std::strcpy(folder, ".");
    } else if (slash == path) {
        std::strcpy(folder, "/");
    } else {
        const std::size_t length = static_cast<std::size_t>(slash - path);
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 1;  // the file is in place; a folder we cannot open we cannot sync
    int32_t result = 1;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS)
        result = Negated(errno);
    ::close(fd);
    return result;
}

// Renames without replacing: a hard link fails with EEXIST when the name is
// taken; file systems without links (FAT on a USB stick) get a rename that
// refuses an existing target where the system has one.
int32_t RenameNoReplace(const char* from, const char* to)
{
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 1;
    }
    if (errno == EEXIST)
        return -EEXIST;
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 1;
    if (errno == EEXIST)
        return -EEXIST;
    if (errno != EINVAL && errno != ENOSYS)
        return Negated(errno);
#endif
    // Last resort: look, then rename. Two writers of the same name within
    // this gap are as unlikely as a file system with neither call.
    struct stat info {};
    if (::lstat(to, &info) == 0)
        return -EEXIST;
    if (::rename(from, to) != 0)
        return Negated(errno);
    return 1;
}

#endif

}  // namespace

DurableFile::~DurableFile()
{
    Discard();
}

void DurableFile::Discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (tempPath_[0]) {
        std::remove(tempPath_);
        tempPath_[0] = '\0';
    }
    flushed_ = false;
}

int32_t DurableFile::Open(const char* path)
{
    Discard();
    if (!path || !*path)
        return -ENOENT;
    if (std::strlen(path) > kMaxPath)
        return -ENAMETOOLONG;
    // The name does not end like the final one: a file left by a crash is
    // never taken for a settings file.
    std::snprintf(tempPath_, sizeof tempPath_, "%s.tmp%u-%u", path, ProcessId(), tempCounter.fetch_add(1) + 1);
#ifdef _WIN32
    wchar_t wide[kMaxPath + 32];
    if (!Wide(tempPath_, wide, static_cast<int>(sizeof wide / sizeof wide[0]))) {
        tempPath_[0] = '\0';
        return -ENOENT;
    }
    HANDLE h = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        tempPath_[0] = '\0';
        return FromLastError();
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(wide);
        tempPath_[0] = '\0';
        return -EIO;
    }
    file_ = _fdopen(fd, "wb");
    if (!file_) {
        _close(fd);
        DeleteFileW(wide);
        tempPath_[0] = '\0';
        return -EIO;
    }
#else
    int fd = ::open(tempPath_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        const int error = errno;
        tempPath_[0] = '\0';
        return Negated(error);
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        std::remove(tempPath_);
        tempPath_[0] = '\0';
        return Negated(error);
    }
#endif
    return 1;
}

// Writes the stream's buffer, forces the bytes to the disk and closes the
// file: each step can be the one that finds the disk full.
int32_t DurableFile::Flush()
{
    if (flushed_)
        return 1;
    if (!file_)
        return -EBADF;
    int32_t result = 1;
    errno = 0;
    if (std::ferror(file_))
        result = Negated(errno);
    else if (std::fflush(file_) != 0)
        result = Negated(errno);
#ifdef _WIN32
    else if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)))))
        result = FromLastError();
#else
    else if (::fsync(::fileno(file_)) != 0)
        result = Negated(errno);
#endif
    errno = 0;
    if (std::fclose(file_) != 0 && result > 0)
        result = Negated(errno);
    file_ = nullptr;
    flushed_ = result > 0;
    return result;
}

int32_t DurableFile::Commit(const char* finalPath, bool replace)
{
    if (!finalPath || !*finalPath || !tempPath_[0]) {
        Discard();
        return -ENOENT;
    }
    // Flushing to a busy disk can take tens of milliseconds: the window
    // handles its events between the two flushes and after them.
    int32_t result = Flush();
    RunEventPump();
    if (result > 0) {
#ifdef _WIN32
        wchar_t from[kMaxPath + 32];
        wchar_t to[kMaxPath + 32];
        const int n = static_cast<int>(sizeof from / sizeof from[0]);
        if (!Wide(tempPath_, from, n) || !Wide(finalPath, to, n))
            result = -ENOENT;
        else if (!MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
            result = FromLastError();
#else
        if (replace)
            result = ::rename(tempPath_, finalPath) == 0 ? 1 : Negated(errno);
        else
            result = RenameNoReplace(tempPath_, finalPath);
        if (result > 0) {
            tempPath_[0] = '\0';
            result = SyncFolderOf(finalPath);
            RunEventPump();
        }
#endif
    }
    if (result == -EEXIST && !replace)
        return result;  // the caller may try another name
    if (result > 0)
        tempPath_[0] = '\0';
    Discard();
    return result;
}

const char* DurableFile::ErrorText(int32_t code)
{
    switch (-code) {
    case ENOSPC: return "the disk is full; free some space on it and try again";
#ifdef EDQUOT
    case EDQUOT: return "the disk quota of this user is used up; free some space and try again";
#endif
    case EFBIG: return "the file is larger than this system lets the program write";
    case EACCES:
    case EPERM: return "permission denied; check that this user may write to the folder";
    case EROFS: return "the disk is read-only";
    case ENOENT:
    case ENOTDIR: return "the folder does not exist";
    case ENAMETOOLONG: return "the path is too long";
    case EEXIST: return "a file of that name exists already";
    case EIO: return "the disk reported an input/output error; check the disk";
    case EISDIR: return "a folder has that name";
    default: return "the file could not be written";
    }
}
