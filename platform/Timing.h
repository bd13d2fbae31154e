// Waits and clocks shared by every protocol layer.
#pragma once

#include <cstdint>
#include <functional>

// An event pump runs the front end's event loop: it waits up to maxWaitMs for
// events, handles those that arrive and returns. The window installs one so
// that it stays responsive during long waits; without one a pause just sleeps.
using EventPump = std::function<void(uint32_t maxWaitMs)>;

// The pump belongs to the calling thread: waits on other threads do not run it.
void SetEventPump(EventPump pump);
bool HasEventPump();
// Lets pending events run without waiting; nothing without a pump.
void RunEventPump();

// With a pump installed the pump runs again and again until the whole time
// has passed, however short the pause, so the window never waits long for
// its events; without one a plain sleep. Always returns 0.
int PauseMs(uint32_t ms);

// The longest a serial wait blocks between two runs of an installed pump.
constexpr uint32_t kPumpSliceMs = 20;

// Monotonic milliseconds since an arbitrary origin; take differences as
// unsigned 32-bit values (ElapsedMs), which makes the wrap-around harmless.
uint32_t TickMs();
inline uint32_t ElapsedMs(uint32_t from, uint32_t to) { return to - from; }

// Seconds to add to UTC to obtain local time, daylight saving included.
int LocalTimeOffset();
