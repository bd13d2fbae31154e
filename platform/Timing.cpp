#include "Timing.h"

#include "TimeSplit.h"

#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

namespace {

// One pump per thread: the thread that runs an update installs the pump for
// its own front end, and several updates on their own threads never run (or
// replace) each other's pump.
EventPump& InstalledPump()
{
    thread_local EventPump pump;
    return pump;
}

void Sleep(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void SetEventPump(EventPump pump)
{
    InstalledPump() = std::move(pump);
}

bool HasEventPump()
{
    return static_cast<bool>(InstalledPump());
}

void RunEventPump()
{
    if (const EventPump& pump = InstalledPump())
        pump(0);
}

int PauseMs(uint32_t ms)
{
    if (ms == 0)
        return 0;
    const EventPump& pump = InstalledPump();
    if (!pump) {
        Sleep(ms);
        return 0;
    }
    // Keep pumping until the total time has passed: each event wakes the pump
    // early, so the remaining time is measured, not assumed.
    uint32_t cycleStart = TickMs();
    uint32_t remaining = ms;
    for (;;) {
        pump(remaining);
        uint32_t now = TickMs();
        uint32_t spent = ElapsedMs(cycleStart, now);
        if (spent >= remaining)
            return 0;
        remaining -= spent;
        cycleStart = now;
    }
}

uint32_t TickMs()
{
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

int LocalTimeOffset()
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    SplitLocal(t, &local);
    SplitUtc(t, &utc);
    int correction = local.tm_isdst > 0 ? 3600 : 0;
    utc.tm_isdst = 0;
    std::time_t u = std::mktime(&utc);
    return static_cast<int>(t + correction - u);
}
