// DurableFile's system steps on POSIX: fsync for the file and its folder, a
// hard link for the rename that must not replace.
#include "DurableFile.h"

#include "DurableFileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace durable_file {

int32_t Negated(int error)
{
    return error > 0 ? -error : -EIO;
}

int32_t CreateNew(const char* path, std::FILE** file)
{
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return Negated(errno);
    *file = ::fdopen(fd, "wb");
    if (!*file) {
        const int error = errno;
        ::close(fd);
        std::remove(path);
        return Negated(error);
    }
    return 1;
}

namespace {

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

}  // namespace

int32_t MoveIntoPlace(const char* from, const char* to, bool replace)
{
    if (replace)
        return ::rename(from, to) == 0 ? 1 : Negated(errno);
    return RenameNoReplace(from, to);
}

}  // namespace durable_file

int32_t FlushFileToDisk(std::FILE* file)
{
    errno = 0;
    if (std::ferror(file) || std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0)
        return durable_file::Negated(errno);
    return 1;
}

// File systems that cannot sync a folder say EINVAL: nothing more can be
// done there.
int32_t FlushFolderOf(const char* path)
{
    char folder[DurableFile::kMaxPath + 1];
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        std::strcpy(folder, ".");
    } else if (slash == path) {
        std::strcpy(folder, "/");
    } else {
        const std::size_t length = static_cast<std::size_t>(slash - path);
        if (length > DurableFile::kMaxPath)
            return -ENAMETOOLONG;
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 1;  // the file is in place; a folder we cannot open we cannot sync
    int32_t result = 1;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS)
        result = durable_file::Negated(errno);
    ::close(fd);
    return result;
}
