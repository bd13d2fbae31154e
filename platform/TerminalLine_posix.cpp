// The line typed on POSIX: poll() on standard input and on a pipe that the
// Ctrl+C handler writes a byte into.
#include "TerminalLine.h"

#include "TerminalLineDetail.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int gWakePipe[2] = {-1, -1};

void DrainWakePipe()
{
    char bytes[64];
    while (::read(gWakePipe[0], bytes, sizeof bytes) > 0) {
    }
}

}  // namespace

void PrepareTerminalWake()
{
    if (gWakePipe[0] >= 0)
        return;
    if (::pipe(gWakePipe) != 0) {
        gWakePipe[0] = gWakePipe[1] = -1;
        return;
    }
    for (int fd : gWakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

void WakeTerminalReader()
{
    terminal_line_detail::wakes.fetch_add(1);
    const int saved = errno;  // a signal handler leaves errno as it found it
    if (gWakePipe[1] >= 0) {
        const char byte = '!';
        [[maybe_unused]] const ssize_t written = ::write(gWakePipe[1], &byte, 1);
    }
    errno = saved;
}

TerminalLine ReadTerminalLine(std::string* line, unsigned before)
{
    line->clear();
    const bool wakeable = gWakePipe[0] >= 0;
    if (wakeable)
        DrainWakePipe();  // the bytes of earlier presses
    for (;;) {
        if (terminal_line_detail::wakes.load() != before)
            return TerminalLine::Interrupted;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}};
        if (::poll(fds, wakeable ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;  // the loop looks at the count again
            return TerminalLine::Ended;
        }
        if (wakeable && (fds[1].revents & POLLIN))
            DrainWakePipe();
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            continue;
        // One byte at a time: what follows the line stays for the next question.
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return line->empty() ? TerminalLine::Ended : TerminalLine::Typed;
        if (terminal_line_detail::EndOfLine(c, line))
            return TerminalLine::Typed;
        line->push_back(c);
    }
}
