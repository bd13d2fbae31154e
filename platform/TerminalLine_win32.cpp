// The line typed on Windows: a read of standard input that the Ctrl+C
// handler's thread cancels.
#include "TerminalLine.h"

#include "TerminalLineDetail.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>

namespace {

HANDLE gWakeEvent = nullptr;
std::mutex gReaderMutex;   // the handler runs on a thread of its own
HANDLE gReader = nullptr;  // the thread in ReadTerminalLine, if any

}  // namespace

void PrepareTerminalWake()
{
    if (!gWakeEvent)
        gWakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void WakeTerminalReader()
{
    terminal_line_detail::wakes.fetch_add(1);
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
        if (terminal_line_detail::wakes.load() != before) {
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
            result = terminal_line_detail::wakes.load() != before ? TerminalLine::Interrupted
                     : line->empty()         ? TerminalLine::Ended
                                             : TerminalLine::Typed;
            break;
        }
        if (terminal_line_detail::EndOfLine(c, line))
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
