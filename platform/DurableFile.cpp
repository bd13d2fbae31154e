#include "DurableFile.h"

#include "DurableFileSystem.h"
#include "ThisSystem.h"
#include "Timing.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// Two writers of one process (several ports) never share a temporary name.
std::atomic<unsigned> tempCounter{0};

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
    std::snprintf(tempPath_, sizeof tempPath_, "%s.tmp%ld-%u", path, ProcessId(), tempCounter.fetch_add(1) + 1);
    const int32_t result = durable_file::CreateNew(tempPath_, &file_);
    if (result <= 0)
        tempPath_[0] = '\0';
    return result;
}

// Writes the stream's buffer, forces the bytes to the disk and closes the
// file: each step can be the one that finds the disk full.
int32_t DurableFile::Flush()
{
    if (flushed_)
        return 1;
    if (!file_)
        return -EBADF;
    int32_t result = FlushFileToDisk(file_);
    errno = 0;
    if (std::fclose(file_) != 0 && result > 0)
        result = durable_file::Negated(errno);
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
        result = durable_file::MoveIntoPlace(tempPath_, finalPath, replace);
        if (result > 0) {
            tempPath_[0] = '\0';
            result = FlushFolderOf(finalPath);
            RunEventPump();
        }
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
