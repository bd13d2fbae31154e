// The line a person types in answer to a question on the terminal. The wait
// for it ends at Ctrl+C too, whichever thread the press reaches: on POSIX the
// signal lands on any thread, and a read of stdin elsewhere would sleep on.
#pragma once

#include <string>

enum class TerminalLine { Typed, Interrupted, Ended };

// Sets up what WakeTerminalReader signals with; once, before the Ctrl+C
// handler that calls it is installed.
void PrepareTerminalWake();

// For the Ctrl+C handler: async-signal-safe on POSIX, any thread on Windows.
// A question waiting for its line stops waiting.
void WakeTerminalReader();

// The wake-ups so far: taken before a question is shown, so that a press
// while it is on the screen counts and one from before it does not.
unsigned TerminalWakes();

// Reads one line from standard input, without its line end. Interrupted when
// a wake-up came after wakesBefore was taken; Ended at the end of input with
// nothing typed.
TerminalLine ReadTerminalLine(std::string* line, unsigned wakesBefore);
