// The small per-platform layer under KeloSerial: open, configure, read with a
// short time-out, write, purge, close. Results are 0 on success or a positive
// system error number in the Windows numbering that the rest of the program
// knows (2 no such port, 5 in use, 6 invalid handle); POSIX errors are
// translated (see SerialBackend_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace serial_backend {

using Handle = std::intptr_t;

extern const Handle kNullHandle;     // closed
extern const Handle kInvalidHandle;  // the open failed

constexpr int kErrorNoSuchPort = 2;
constexpr int kErrorInUse = 5;
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorNoPermission = 13;

// Which configuration step failed, so the caller can log the right line.
enum class ConfigStep { None, Queues, GetState, ApplyState, Timeouts };

// Records that keep a port name keep this much (the NUL included): the
// longest path Linux opens, so any by-id name fits and no name is ever cut.
constexpr std::size_t kPortNameSize = 4096;

// Opens the device exclusively. On failure *handle is kInvalidHandle.
int Open(const char* name, Handle* handle);

// 8N1, raw, no flow control, DTR and RTS on. Queue-size failures are reported
// through *failed but are not fatal (the caller logs and carries on).
int Configure(Handle handle, uint32_t baud, ConfigStep* failed);

int SetBaud(Handle handle, uint32_t baud);

// Returns at once with what is queued; if nothing is, waits up to 100 ms for
// the first byte (or less, when maxWaitMs says so). *got may be 0.
int Read(Handle handle, void* buffer, std::size_t size, std::size_t* got, uint32_t maxWaitMs = 100);

// Gives up after 10 ms per byte plus 100 ms; *written may then be short.
int Write(Handle handle, const void* bytes, std::size_t count, std::size_t* written);

int PurgeInput(Handle handle);
int Close(Handle handle);

// Whether the port's name is there now (a USB adapter plugged in), without
// opening it: cheap enough to ask a few times a second while a station waits.
bool Present(const char* name);

// Brief exclusive open for the port list: 0 usable, kErrorInUse busy, other
// errors mean the port is not there.
int Probe(const char* name);

}  // namespace serial_backend
