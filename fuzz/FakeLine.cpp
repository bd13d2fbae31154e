#include "FakeLine.h"

#include <cstdio>
#include <cstring>

#include "SerialBackend.h"

namespace {

constexpr serial_backend::Handle kOpenHandle = 1;

const uint8_t* input = nullptr;
std::size_t inputSize = 0;
std::size_t next = 0;  // start of the answer not yet sent

// Bytes that have arrived and were not read yet.
char queue[4096];
std::size_t queued = 0;

bool Exhausted() { return next > inputSize; }

// Moves the next answer into the queue; what does not fit is lost, as on a
// real line whose receive buffer overflows.
void ReleaseNext()
{
    if (Exhausted())
        return;
    const uint8_t* begin = input + next;
    const void* end = std::memchr(begin, fake_line::kAnswerSeparator, inputSize - next);
    std::size_t length = end ? static_cast<const uint8_t*>(end) - begin : inputSize - next;
    next += length + 1;
    std::size_t room = sizeof queue - queued;
    if (length > room)
        length = room;
    std::memcpy(queue + queued, begin, length);
    queued += length;
}

}  // namespace

void fake_line::Serve(const uint8_t* data, std::size_t size)
{
    input = data;
    inputSize = size;
    next = 0;
    queued = 0;
}

namespace serial_backend {

const Handle kNullHandle = 0;
const Handle kInvalidHandle = -1;

int Open(const char*, Handle* handle)
{
    *handle = kOpenHandle;
    return 0;
}

int Configure(Handle, uint32_t, ConfigStep* failed)
{
    *failed = ConfigStep::None;
    return 0;
}

int SetBaud(Handle, uint32_t) { return 0; }

int Read(Handle, void* buffer, std::size_t size, std::size_t* got, uint32_t)
{
    *got = 0;
    if (queued == 0)
        ReleaseNext();
    if (queued == 0)
        return Exhausted() ? kErrorInvalidHandle : 0;
    std::size_t n = size < queued ? size : queued;
    std::memcpy(buffer, queue, n);
    std::memmove(queue, queue + n, queued - n);
    queued -= n;
    *got = n;
    return 0;
}

int Write(Handle, const void*, std::size_t count, std::size_t* written)
{
    if (Exhausted())
        return kErrorInvalidHandle;
    // A device that has not been read yet does not answer again: a burst of
    // writes (the loggers' wake-up) takes one answer, not hundreds.
    if (queued == 0)
        ReleaseNext();
    *written = count;
    return 0;
}

int PurgeInput(Handle)
{
    queued = 0;
    return 0;
}

int Close(Handle) { return 0; }

int Probe(const char*) { return 0; }

}  // namespace serial_backend
