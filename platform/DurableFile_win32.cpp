// DurableFile's system steps on Windows: FlushFileBuffers for the file,
// MoveFileExW written through for the rename.
#include "DurableFile.h"

#include "DurableFileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

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

constexpr int kWideSize = static_cast<int>(DurableFile::kMaxPath + 32);

}  // namespace

namespace durable_file {

int32_t Negated(int error)
{
    return error > 0 ? -error : -EIO;
}

int32_t CreateNew(const char* path, std::FILE** file)
{
    wchar_t wide[kWideSize];
    if (!Wide(path, wide, kWideSize))
        return -ENOENT;
    HANDLE h = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FromLastError();
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(wide);
        return -EIO;
    }
    *file = _fdopen(fd, "wb");
    if (!*file) {
        _close(fd);
        DeleteFileW(wide);
        return -EIO;
    }
    return 1;
}

int32_t MoveIntoPlace(const char* from, const char* to, bool replace)
{
    wchar_t wideFrom[kWideSize];
    wchar_t wideTo[kWideSize];
    if (!Wide(from, wideFrom, kWideSize) || !Wide(to, wideTo, kWideSize))
        return -ENOENT;
    if (!MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
        return FromLastError();
    return 1;
}

}  // namespace durable_file

int32_t FlushFileToDisk(std::FILE* file)
{
    errno = 0;
    if (std::ferror(file) || std::fflush(file) != 0)
        return durable_file::Negated(errno);
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))))
        return FromLastError();
    return 1;
}

int32_t FlushFolderOf(const char*)
{
    return 1;
}
