#include "SimLine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

uint64_t NowUs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t BaudOf(speed_t speed)
{
    static const struct { speed_t speed; uint32_t baud; } kSpeeds[] = {
        {B300, 300},       {B600, 600},       {B1200, 1200},     {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B921600, 921600},
    };
    for (const auto& entry : kSpeeds)
        if (entry.speed == speed)
            return entry.baud;
    return 0;
}

}  // namespace

SimLine::~SimLine()
{
    if (keepSlave_ >= 0)
        ::close(keepSlave_);
    if (master_ >= 0)
        ::close(master_);
}

bool SimLine::Open(std::string* error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = ::ptsname(master_);
    keepSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (keepSlave_ >= 0 && ::tcgetattr(keepSlave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(keepSlave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void SimLine::Unplug()
{
    if (master_ < 0)
        return;
    // Our own end of the slave stays open: the name is gone once the master
    // closes, but the pseudo-terminal's number stays taken, so another
    // simulator cannot come up under the same name while the cable is out.
    ::close(master_);
    master_ = -1;
    outgoing_.clear();
    incoming_.clear();
    if (trace_)
        std::fprintf(stderr, "%u -- unplugged\n", NowMs());
}

uint32_t SimLine::NowMs()
{
    return static_cast<uint32_t>(NowUs() / 1000);
}

uint32_t SimLine::HostBaud() const
{
    termios tio{};
    if (keepSlave_ < 0 || ::tcgetattr(keepSlave_, &tio) != 0)
        return 0;
    return BaudOf(::cfgetospeed(&tio));
}

uint32_t SimLine::ByteTimeUs() const
{
    return paceBaud_ ? 10u * 1000000u / paceBaud_ : 0;
}

void SimLine::Send(const std::string& bytes, uint32_t delayMs)
{
    if (bytes.empty())
        return;
    if (outgoing_.empty())
        nextOutUs_ = NowUs() + static_cast<uint64_t>(delayMs) * 1000u;
    outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
}

void SimLine::Trace(const char* direction, const std::string& bytes)
{
    if (!trace_ || bytes.empty())
        return;
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else
            text += static_cast<char>(c);
    }
    std::fprintf(stderr, "%u %s %s\n", NowMs(), direction, text.c_str());
}

std::string SimLine::Poll(uint32_t waitMs)
{
    if (master_ < 0) {
        outgoing_.clear();
        ::usleep(static_cast<useconds_t>(waitMs) * 1000);
        return {};
    }
    const uint64_t now = NowUs();
    const uint32_t byteUs = ByteTimeUs();

    // Output: everything due by now leaves in one write.
    std::string out;
    while (!outgoing_.empty() && nextOutUs_ <= now) {
        out += outgoing_.front();
        outgoing_.pop_front();
        nextOutUs_ += byteUs;
    }
    if (!out.empty()) {
        std::size_t off = 0;
        while (off < out.size()) {
            ssize_t n = ::write(master_, out.data() + off, out.size() - off);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                bytesOut_ += static_cast<uint64_t>(n);
            }
            else if (errno == EAGAIN || errno == EINTR)
                ::usleep(1000);
            else
                break;  // nobody listening: the bytes are lost, as on a real line
        }
        Trace(">>", out);
    }

    // Never sleep past the next paced byte.
    uint32_t wait = waitMs;
    if (!incoming_.empty())
        wait = 1;
    if (!outgoing_.empty()) {
        // Held back (a delayed answer): sleep until it is due, not in 1 ms steps.
        const uint64_t later = NowUs();
        const uint64_t dueMs = nextOutUs_ > later ? (nextOutUs_ - later) / 1000u : 0;
        wait = dueMs < 1 ? 1 : dueMs < wait ? static_cast<uint32_t>(dueMs) : wait;
    }
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(wait)) > 0 && (pfd.revents & POLLIN)) {
        char buffer[4096];
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            if (incoming_.empty())
                nextInUs_ = NowUs() + byteUs;
            incoming_.insert(incoming_.end(), buffer, buffer + n);
        }
    } else if (pfd.revents & (POLLHUP | POLLERR)) {
        ::usleep(static_cast<useconds_t>(wait) * 1000);  // no host on the line yet
    }

    std::string in;
    const uint64_t later = NowUs();
    while (!incoming_.empty() && (byteUs == 0 || nextInUs_ <= later)) {
        in += incoming_.front();
        incoming_.pop_front();
        nextInUs_ += byteUs;
    }
    bytesIn_ += in.size();
    Trace("<<", in);
    return in;
}
