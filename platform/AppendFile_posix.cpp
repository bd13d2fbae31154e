#include "AppendFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileHandle {
    int fd;
    ~FileHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

bool AppendLine(const std::string& path, const std::string& line, std::string* error)
{
    FileHandle file{::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644)};
    if (file.fd < 0) {
        *error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    std::string text = line;
    struct stat st {};
    char last = '\n';
    if (::fstat(file.fd, &st) == 0 && st.st_size > 0 && ::pread(file.fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        text.insert(0, 1, '\n');
    const ssize_t written = ::write(file.fd, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
        *error = written < 0 ? std::string("cannot write to it: ") + std::strerror(errno)
                             : "only part of the line was written (disk full?)";
        return false;
    }
    return true;
}
