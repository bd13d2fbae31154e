#include "SerialBackend.h"

#include "PortPath.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace serial_backend {

const Handle kNullHandle = -2;
const Handle kInvalidHandle = -1;

namespace {

constexpr int kErrorIoDevice = 1117;     // Windows' "I/O device error"
constexpr int kErrorBadBaud = 87;        // Windows' "invalid parameter"

// errno values that would read as a different Windows error get the number
// the workflow expects; everything else passes through unchanged.
int FromErrno(int e)
{
    switch (e) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENAMETOOLONG:  // longer than any path: there is no such port
        return kErrorNoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
        return kErrorInUse;
    case EBADF:
        return kErrorInvalidHandle;
    case EACCES:
    case EPERM:
        return kErrorNoPermission;
    case EIO:
        return kErrorIoDevice;
    default:
        return e > 0 ? e : kErrorIoDevice;
    }
}

bool SpeedFor(uint32_t baud, speed_t* speed)
{
    static const struct { uint32_t baud; speed_t speed; } kSpeeds[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
        {921600, B921600},
    };
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

int Fd(Handle handle) { return static_cast<int>(handle); }

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool Present(const char* name)
{
    // Through a by-id link to the device node; a dangling link is no port.
    struct stat info {};
    return name && *name && ::stat(PortDevicePath(name).c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

int Open(const char* name, Handle* handle)
{
    *handle = kInvalidHandle;
    const std::string path = PortDevicePath(name);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno);
    // The advisory lock tells other well-behaved programs (and our own port
    // list) that the port is taken; TIOCEXCL keeps out the rest.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        return FromErrno(error);
    }
    ::ioctl(fd, TIOCEXCL);  // refused on some pseudo-terminals: harmless
    *handle = fd;
    return 0;
}

int Configure(Handle handle, uint32_t baud, ConfigStep* failed)
{
    *failed = ConfigStep::None;
    termios tio{};
    if (::tcgetattr(Fd(handle), &tio) != 0) {
        *failed = ConfigStep::GetState;
        return FromErrno(errno);
    }
    speed_t speed;
    if (!SpeedFor(baud, &speed)) {
        *failed = ConfigStep::ApplyState;
        return kErrorBadBaud;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(Fd(handle), TCSANOW, &tio) != 0) {
        *failed = ConfigStep::ApplyState;
        return FromErrno(errno);
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(Fd(handle), TIOCMBIS, &lines);  // pseudo-terminals have no modem lines
    return 0;
}

int SetBaud(Handle handle, uint32_t baud)
{
    termios tio{};
    ::tcgetattr(Fd(handle), &tio);
    speed_t speed;
    if (!SpeedFor(baud, &speed))
        return kErrorBadBaud;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(Fd(handle), TCSANOW, &tio) != 0)
        return FromErrno(errno);
    return 0;
}

int Read(Handle handle, void* buffer, std::size_t size, std::size_t* got, uint32_t maxWaitMs)
{
    *got = 0;
    if (handle == kNullHandle || handle == kInvalidHandle)
        return kErrorInvalidHandle;
    if (size == 0)
        return 0;
    // With VMIN = VTIME = 0 an empty queue reads as 0 bytes, and so does a
    // hung-up line; poll tells the two apart.
    ssize_t n = ::read(Fd(handle), buffer, size);
    if (n > 0) {
        *got = static_cast<std::size_t>(n);
        return 0;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        return FromErrno(errno);
    pollfd pfd{Fd(handle), POLLIN, 0};
    int ready = ::poll(&pfd, 1, static_cast<int>(maxWaitMs > 100 ? 100 : maxWaitMs));
    if (ready < 0)
        return errno == EINTR ? 0 : FromErrno(errno);
    if (ready == 0)
        return 0;
    n = ::read(Fd(handle), buffer, size);
    if (n > 0) {
        *got = static_cast<std::size_t>(n);
        return 0;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        return FromErrno(errno);
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
        return kErrorIoDevice;  // the other end is gone
    return 0;
}

int Write(Handle handle, const void* bytes, std::size_t count, std::size_t* written)
{
    *written = 0;
    if (handle == kNullHandle || handle == kInvalidHandle)
        return kErrorInvalidHandle;
    const int64_t deadline = NowMs() + 10 * static_cast<int64_t>(count) + 100;
    const char* p = static_cast<const char*>(bytes);
    while (*written < count) {
        ssize_t n = ::write(Fd(handle), p + *written, count - *written);
        if (n > 0) {
            *written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return FromErrno(errno);
        int64_t left = deadline - NowMs();
        if (left <= 0)
            break;  // a short count reports the time-out, as on Windows
        pollfd pfd{Fd(handle), POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(left));
    }
    return 0;
}

int PurgeInput(Handle handle)
{
    if (::tcflush(Fd(handle), TCIFLUSH) != 0)
        return FromErrno(errno);
    return 0;
}

int Close(Handle handle)
{
    if (::close(Fd(handle)) != 0)
        return FromErrno(errno);
    return 0;
}

int Probe(const char* name)
{
    Handle handle;
    int error = Open(name, &handle);
    if (error == 0) {
        termios tio{};
        if (::tcgetattr(Fd(handle), &tio) != 0)
            error = FromErrno(errno);  // not a terminal at all
        ::close(Fd(handle));
    }
    return error;
}

}  // namespace serial_backend
