// A moment split into its calendar parts, in UTC or in the local time zone.
// Thread-safe, unlike std::gmtime and std::localtime, whose shared result
// several ports' threads would overwrite under each other.
#pragma once

#include <ctime>

// False when the system cannot split t (out of its range).
bool SplitUtc(std::time_t t, std::tm* out);
bool SplitLocal(std::time_t t, std::tm* out);
