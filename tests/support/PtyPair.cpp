// kelo_pty_pair LINK_A LINK_B: two pseudo-terminals joined like a null-modem
// cable, their slave ends linked as LINK_A and LINK_B. The Windows tests run
// under Wine with the two links in dosdevices (comN), so a test program
// drives one COM port as the device while the code under test uses the other.
// Prints "ready" when both links exist; SIGTERM or SIGINT removes them.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnStop(int) { gStop = 1; }

struct End {
    int master = -1;
    int slave = -1;  // held open, so a host close and reopen loses nothing
};

bool Make(const char* link, End* end)
{
    end->master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (end->master < 0 || ::grantpt(end->master) != 0 || ::unlockpt(end->master) != 0)
        return false;
    const char* path = ::ptsname(end->master);
    end->slave = ::open(path, O_RDWR | O_NOCTTY);
    termios tio{};
    if (end->slave < 0 || ::tcgetattr(end->slave, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::tcsetattr(end->slave, TCSANOW, &tio);
    ::unlink(link);
    return ::symlink(path, link) == 0;
}

// Copies what one master has to the other; false when the copy failed.
bool Pass(int from, int to)
{
    char buffer[4096];
    ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR || errno == EIO;
    for (ssize_t off = 0; off < n;) {
        ssize_t w = ::write(to, buffer + off, static_cast<std::size_t>(n - off));
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (w > 0)
            off += w;
        else
            ::usleep(1000);  // the other side's queue is full: let it drain
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelo_pty_pair LINK_A LINK_B\n");
        return 2;
    }
    End a, b;
    if (!Make(argv[1], &a) || !Make(argv[2], &b)) {
        std::perror("kelo_pty_pair");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    while (!gStop) {
        pollfd fds[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        if (::poll(fds, 2, 500) < 0 && errno != EINTR)
            break;
        if ((fds[0].revents & POLLIN) && !Pass(a.master, b.master))
            break;
        if ((fds[1].revents & POLLIN) && !Pass(b.master, a.master))
            break;
    }
    ::unlink(argv[1]);
    ::unlink(argv[2]);
    return 0;
}
