#include "TerminalLine.h"

#include <atomic>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// Wake-ups so far: a reader compares with the count it started with, so a
// press from before its question never answers it.
std::atomic<unsigned> gWakes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

bool EndOfLine(char c, std::string* line)
{
    if (c != '\n')
        return false;
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

#if defined(_WIN32)

HANDLE gWakeEvent = nullptr;
std::mutex gReaderMutex;   // the handler runs on a thread of its own
HANDLE gReader = nullptr;  // the thread in ReadTerminalLine, if any

#else

int gWakePipe[2] = {-1, -1};

void DrainWakePipe()
{
    char bytes[64];
    while (::read(gWakePipe[0], bytes, sizeof bytes) > 0) {
    }
}

#endif

}  // namespace

unsigned TerminalWakes()
{
    return gWakes.load();
}

#if defined(_WIN32)

void PrepareTerminalWake()
{
    if (!gWakeEvent)
        gWakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void WakeTerminalReader()
{
    gWakes.fetch_add(1);
    if (gWakeEvent)
        SetEvent(gWakeEvent);
    // Ctrl+C ends a pending console read by itself; a read of redirected
    // input needs the cancel.
    std::lock_guard lock(gReaderMutex);
    if (gReader)
        CancelSynchronousIo(gReader);
}

TerminalLine ReadTerminalLine(std::string* line, unsigned before)
{
    line->clear();
    if (gWakeEvent)
        ResetEvent(gWakeEvent);
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    {
        std::lock_guard lock(gReaderMutex);
        gReader = self;
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    TerminalLine result = TerminalLine::Typed;
    for (;;) {
        if (gWakes.load() != before) {
            result = TerminalLine::Interrupted;
            break;
        }
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) {
            // A console read that Ctrl+C ended looks like the end of input;
            // the handler, on its own thread, says which it was.
            if (gWakeEvent)
                WaitForSingleObject(gWakeEvent, 250);
            result = gWakes.load() != before ? TerminalLine::Interrupted
                     : line->empty()         ? TerminalLine::Ended
                                             : TerminalLine::Typed;
            break;
        }
        if (EndOfLine(c, line))
            break;
        line->push_back(c);
    }
    {
        std::lock_guard lock(gReaderMutex);
        gReader = nullptr;
    }
    if (self)
        CloseHandle(self);
    return result;
}

#else

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
    gWakes.fetch_add(1);
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
        if (gWakes.load() != before)
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
        if (EndOfLine(c, line))
            return TerminalLine::Typed;
        line->push_back(c);
    }
}

#endif
