// The terminal the command line runs in: its width, cursor moves, Ctrl+C.
#pragma once

#include <cstddef>

// Columns of the terminal on standard output; 0 when it is not a terminal
// or does not say.
std::size_t TerminalColumns();

// Lets the lines on standard output be redrawn with cursor moves (the
// Windows console obeys them only when told to); nothing elsewhere.
void AllowCursorMoves();

// Calls onInterrupt at each Ctrl+C instead of ending the program, from a
// signal handler on POSIX (async-signal-safe code only) and from a thread of
// its own on Windows; it stays installed for every press. Closing the
// console or logging off still ends the program.
void OnInterrupt(void (*onInterrupt)());
