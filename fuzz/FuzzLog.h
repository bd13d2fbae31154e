// The targets log to /dev/null: the log lines format device answers, and
// those formats are part of what is fuzzed. The serial trace (a line per
// read and write) only slows the runs down.
#pragma once

#include "KeloLog.h"

inline KeloLog* FuzzLog()
{
    static KeloLog log("/dev/null", KeloLog::kVerbose, false);  // never erase: it is /dev/null
    return &log;
}
