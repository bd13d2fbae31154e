#include "PeerLine.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PeerLine::PeerLine()
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    line_ = master;
    hostPort_ = ::ptsname(master);
    int slave = ::open(hostPort_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    keepHost_ = slave;
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

PeerLine::~PeerLine()
{
    if (keepHost_ >= 0)
        ::close(static_cast<int>(keepHost_));
    if (line_ >= 0)
        ::close(static_cast<int>(line_));
}

std::size_t PeerLine::Read(char* buffer, std::size_t size, uint32_t waitMs)
{
    // After a hang-up poll() ignores the negative descriptor and just waits,
    // so a script's silence after CloseLine() does not spin.
    pollfd pfd{static_cast<int>(line_), POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(waitMs)) <= 0)
        return 0;
    ssize_t n = line_ >= 0 ? ::read(static_cast<int>(line_), buffer, size) : 0;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool PeerLine::Write(const char* bytes, std::size_t count)
{
    std::size_t off = 0;
    while (off < count && line_ >= 0) {
        ssize_t n = ::write(static_cast<int>(line_), bytes + off, count - off);
        if (n > 0)
            off += static_cast<std::size_t>(n);
        else if (errno == EAGAIN)
            ::usleep(1000);
        else
            return false;
    }
    return off == count;
}

bool PeerLine::Hangup()
{
    if (line_ >= 0)
        ::close(static_cast<int>(line_));
    line_ = -1;
    return true;
}
