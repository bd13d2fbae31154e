#include "KeloSerial.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "KeloLog.h"
#include "Result.h"
#include "Timing.h"

namespace sb = serial_backend;

namespace {

constexpr const char* kTag = "KeloSerial";
constexpr uint32_t kWaitCapacity = KeloSerial::kReadBufferSize - 1;

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

#define KS_LOG(level, tag, ...)                          \
    do {                                                 \
        if (log_)                                        \
            log_->LogMessage(level, tag, __VA_ARGS__);   \
    } while (0)

KeloSerial::KeloSerial(KeloLog* log, char* readBuffer)
    : log_(log), handle_(sb::kNullHandle), readBuffer_(readBuffer)
{
}

KeloSerial::~KeloSerial()
{
    KSClose();
    if (ownsBuffer_)
        std::free(readBuffer_);
}

bool KeloSerial::IsOpen() const
{
    return handle_ != sb::kNullHandle && handle_ != sb::kInvalidHandle;
}

int KeloSerial::KSOpen(const char* portName, uint32_t baud)
{
    if (handle_ != sb::kNullHandle) {
        KS_LOG(40, kTag, "KSOpen found port \"%d\" already open", static_cast<int>(handle_));
        KSClose();
        handle_ = sb::kNullHandle;
        // A plain sleep: the port is between close and reopen, no events now.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    portName_.assign(portName ? portName : "");
    int error = sb::Open(portName_.c_str(), &handle_);
    if (error) {
        KS_LOG(1, PortName(), "KSOpen failed to open comm port (error %d)", error);
        return FromSystem(error);
    }

    baud_ = baud ? baud : 9600;
    sb::ConfigStep failed;
    error = sb::Configure(handle_, baud_, &failed);
    if (error) {
        switch (failed) {
        case sb::ConfigStep::Queues:
            KS_LOG(40, PortName(), "KSOpen failed to set buffer size on comm port (error %d)", error);
            break;
        case sb::ConfigStep::GetState:
            KS_LOG(1, PortName(), "KSOpen failed to retreive DCB on comm port (error %d)", error);
            return FailedConfiguration(error);
        case sb::ConfigStep::ApplyState:
            KS_LOG(1, PortName(), "KSOpen failed to apply DCB on comm port (error %d)", error);
            return FailedConfiguration(error);
        case sb::ConfigStep::Timeouts:
            KS_LOG(1, PortName(), "KSOpen failed to set timeouts on comm port (error %d)", error);
            return FailedConfiguration(error);
        case sb::ConfigStep::None:
            return FailedConfiguration(error);
        }
    }

    if (!readBuffer_) {
        readBuffer_ = static_cast<char*>(std::malloc(kReadBufferSize));
        if (!readBuffer_)
            return result::kOutOfMemory;
        ownsBuffer_ = true;
    }
    std::memset(readBuffer_, 0, kReadBufferSize);
    replyReady_ = false;

    KS_LOG(30, PortName(), "KSOpen successfully opened and configured comm port at %d baud",
           static_cast<int>(baud_));
    return 1;
}

int KeloSerial::FailedConfiguration(int error)
{
    // A port we cannot configure is of no use, and holding it open would
    // show it as "in use" to everyone (ourselves included) until we exit.
    sb::Close(handle_);
    handle_ = sb::kNullHandle;
    return FromSystem(error);
}

int KeloSerial::KSClose()
{
    if (handle_ == sb::kNullHandle || handle_ == sb::kInvalidHandle)
        return 0;
    int error = sb::Close(handle_);
    handle_ = sb::kNullHandle;
    if (ownsBuffer_ && readBuffer_) {
        std::free(readBuffer_);
        readBuffer_ = nullptr;
        ownsBuffer_ = false;
    }
    if (error) {
        KS_LOG(1, PortName(), "KSClose failed to close comm port (error %d)", error);
        return FromSystem(error);
    }
    KS_LOG(30, PortName(), "KSClose closed comm port");
    return 1;
}

Result KeloSerial::FromSystem(int error)
{
    systemError_ = error;
    switch (error) {
    case sb::kErrorNoSuchPort: return result::kNoSuchPort;
    case sb::kErrorInUse: return result::kPortInUse;
    case sb::kErrorInvalidHandle: return result::kPortNotOpen;
    case sb::kErrorNoPermission: return result::kNoPermission;
    default: return result::kPortSystemError;
    }
}

int KeloSerial::FailedIo(const char* what, int error)
{
    KS_LOG(1, PortName(), "%s failed (error %d)", what, error);
    return error == sb::kErrorInvalidHandle ? result::kNoAnswer : FromSystem(error);
}

int KeloSerial::KSWrite(const void* bytes, uint32_t count, uint32_t* written)
{
    if (handle_ == sb::kNullHandle) {
        KS_LOG(1, kTag, "KSWrite tried to write to a closed port");
        return result::kNoAnswer;
    }
    std::size_t done = 0;
    int error = sb::Write(handle_, bytes, count, &done);
    if (error)
        return FailedIo("KSWrite WriteFile", error);
    if (written)
        *written = static_cast<uint32_t>(done);
    KS_LOG(40, PortName(), "KSWrite wrote %d bytes", static_cast<int>(done));
    return static_cast<int>(done);
}

int KeloSerial::KSRead(void* destination, uint32_t capacity, uint32_t* delivered)
{
    uint32_t out = 0;
    if (delivered)
        *delivered = 0;
    if (!readBuffer_)
        return result::kOutOfMemory;
    char* dest = static_cast<char*>(destination);

    if (readBuffer_[0] != '\0') {
        uint32_t n = static_cast<uint32_t>(strnlen(readBuffer_, kReadBufferSize));
        if (n > capacity) {
            // What does not fit is dropped; the port is not read this time.
            n = capacity;
            replyReady_ = true;
        }
        std::memcpy(dest, readBuffer_, n);
        out = n;
        readBuffer_[0] = '\0';
        KS_LOG(40, PortName(), "KSRead read %d bytes from gReadBuffer", static_cast<int>(n));
    }
    if (delivered)
        *delivered = out;
    if (replyReady_) {
        replyReady_ = false;
        return static_cast<int>(out);
    }
    if (handle_ == sb::kNullHandle) {
        KS_LOG(1, kTag, "KSRead tried to read from a closed port");
        return result::kNoAnswer;
    }

    std::size_t got = 0;
    int error = capacity > out ? sb::Read(handle_, dest + out, capacity - out, &got)
                               : sb::Read(handle_, dest, 0, &got);
    if (error)
        return FailedIo("KSRead ReadFile", error);
    out += static_cast<uint32_t>(got);
    if (delivered)
        *delivered = out;
    KS_LOG(40, PortName(), "KSRead read %d btyes", static_cast<int>(out));
    return static_cast<int>(out);
}

int KeloSerial::PollRead(char* destination, std::size_t size, std::size_t* got, uint32_t pollMs)
{
    if (!HasEventPump())
        return sb::Read(handle_, destination, size, got, pollMs);
    // The poll is cut into slices that end when the pump is next due, counted
    // from its last run (also in an earlier wait): bytes trickling in must not
    // stretch the time between two runs past one slice. An answer still ends
    // the wait at once.
    const int64_t start = NowMs();
    for (;;) {
        int64_t now = NowMs();
        if (now - lastPumpMs_ >= kPumpSliceMs) {
            RunEventPump();
            lastPumpMs_ = now = NowMs();
        }
        const int64_t left = static_cast<int64_t>(pollMs) - (now - start);
        const int64_t untilPump = kPumpSliceMs - (now - lastPumpMs_);
        const int64_t slice = std::clamp<int64_t>(std::min(left, untilPump), 0, kPumpSliceMs);
        int error = sb::Read(handle_, destination, size, got, static_cast<uint32_t>(slice));
        if (error || *got || left <= slice)
            return error;
    }
}

int KeloSerial::KSWait(uint32_t timeoutMs, char awaited)
{
    if (handle_ == sb::kNullHandle) {
        KS_LOG(1, kTag, "KSWait tried to operate on a closed port");
        return result::kNoAnswer;
    }
    if (!readBuffer_)
        return result::kOutOfMemory;

    const int64_t start = NowMs();
    uint32_t position = 0;
    int polls = 0;
    readBuffer_[0] = '\0';
    for (;;) {
        std::size_t got = 0;
        int error;
        // Poll no longer than the time-out needs, so a silent line ends the
        // wait close to the time-out and not a whole poll later.
        int64_t left = static_cast<int64_t>(timeoutMs) + 1 - (NowMs() - start);
        uint32_t pollMs = left <= 0 ? 0 : left >= 100 ? 100 : static_cast<uint32_t>(left);
        if (position < kWaitCapacity) {
            error = PollRead(readBuffer_ + position, kWaitCapacity - position, &got, pollMs);
        } else {
            // Full without the character: a zero-length read returns at once,
            // so pause for the poll interval instead of spinning.
            error = sb::Read(handle_, readBuffer_ + position, 0, &got);
            PauseMs(pollMs ? pollMs : 1);
        }
        if (error)
            return FailedIo("KSWait ReadFile", error);

        int elapsed = static_cast<int>(NowMs() - start);
        if (got) {
            position += static_cast<uint32_t>(got);
            readBuffer_[position] = '\0';
        }
        if (std::strchr(readBuffer_, awaited) && awaited != '\0') {
            replyReady_ = true;
            KS_LOG(40, PortName(), "KSWait found '%c' in %d ms", awaited, elapsed);
            return static_cast<signed char>(awaited);
        }
        if (elapsed > static_cast<int64_t>(timeoutMs)) {
            KS_LOG(40, PortName(), "KSWait read %d bytes, but never found '%c' in %d ms",
                   static_cast<int>(position), awaited, elapsed);
            return 0;
        }
        if (polls > 5 && timeoutMs > 1000)
            PauseMs(200);
        ++polls;
    }
}

int KeloSerial::KSPurge(int mode)
{
    if (mode == 1 && IsOpen())
        sb::PurgeInput(handle_);
    if (readBuffer_)
        readBuffer_[0] = '\0';
    return 0;
}

int KeloSerial::KSHostBaud(uint32_t baud)
{
    if (baud == baud_)
        return 0;
    if (portName_.empty())
        return result::kPortNotOpen;
    int error = sb::SetBaud(handle_, baud);
    if (error) {
        KS_LOG(1, PortName(), "KSHostBaud failed to apply new baud rate \"%d\" (error %d)",
               static_cast<int>(baud), error);
        return FromSystem(error);
    }
    baud_ = baud;
    return 1;
}
