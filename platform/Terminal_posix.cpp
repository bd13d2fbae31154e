#include "Terminal.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::atomic<void (*)()> gOnInterrupt{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

void Interrupted(int)
{
    if (void (*handler)() = gOnInterrupt.load())
        handler();
}

}  // namespace

std::size_t TerminalColumns()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        return size.ws_col;
    return 0;
}

void AllowCursorMoves() {}

void OnInterrupt(void (*onInterrupt)())
{
    gOnInterrupt.store(onInterrupt);
    struct sigaction action {};
    action.sa_handler = Interrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait wakes up and the flag is seen soon
    sigaction(SIGINT, &action, nullptr);
}
