#include "Terminal.h"

#include <atomic>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

std::atomic<void (*)()> gOnInterrupt{nullptr};

// The C runtime's signal() resets to the default after the first Ctrl+C, so a
// second press would kill the process mid-transfer; a console control
// handler stays installed.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;  // closing the console or logging off: let Windows end us
    if (void (*handler)() = gOnInterrupt.load())
        handler();
    return TRUE;
}

}  // namespace

std::size_t TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void AllowCursorMoves()
{
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD consoleMode = 0;
    if (GetConsoleMode(console, &consoleMode))
        SetConsoleMode(console, consoleMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void OnInterrupt(void (*onInterrupt)())
{
    gOnInterrupt.store(onInterrupt);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
