// The fuzz targets' clock: pauses take no real time, they only move the
// clock on, so a run that "waits" a minute costs microseconds.
#include "Timing.h"

#include <utility>

namespace {

uint32_t now = 0;

}  // namespace

void SetEventPump(EventPump) {}
bool HasEventPump() { return false; }
void RunEventPump() {}

int PauseMs(uint32_t ms)
{
    now += ms;
    return 0;
}

// Every reading moves on a millisecond, so a loop that waits for time to
// pass always ends.
uint32_t TickMs() { return ++now; }

int LocalTimeOffset() { return 0; }
