// What the two systems' ReadTerminalLine share; for the TerminalLine files only.
#pragma once

#include <atomic>
#include <string>

namespace terminal_line_detail {

// Wake-ups so far: a reader compares with the count it started with, so a
// press from before its question never answers it.
extern std::atomic<unsigned> wakes;

// True at the end of a line, whose "\r" before the "\n" is then dropped.
bool EndOfLine(char c, std::string* line);

}  // namespace terminal_line_detail
