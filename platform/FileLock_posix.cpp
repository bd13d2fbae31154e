// FileLock on POSIX: flock on the whole file.
#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int Fd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

}  // namespace

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
    handle_ = fd;
    path_ = path;
    return 1;
}

bool FileLock::WriteHolder(const std::string& text)
{
    if (!Held())
        return false;
    const std::size_t length = text.size() < kMaxHolderText ? text.size() : kMaxHolderText;
    return ::ftruncate(Fd(handle_), 0) == 0 &&
           ::pwrite(Fd(handle_), text.data(), length, 0) == static_cast<ssize_t>(length);
}

void FileLock::Unlock()
{
    if (!Held())
        return;
    // Closing the descriptor drops the lock; the file stays for the next holder.
    ::close(Fd(handle_));
    handle_ = kNotHeld;
    path_.clear();
}
