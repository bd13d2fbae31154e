// Windows comm ports through the Win32 communications API. Error numbers are
// GetLastError() values, passed on unchanged.
#include "SerialBackend.h"
#include "PortPath.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace serial_backend {

const Handle kNullHandle = 0;
const Handle kInvalidHandle = reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);

namespace {

constexpr DWORD kQueueBytes = 2048;
constexpr DWORD kReadWaitMs = 100;

HANDLE Win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

int LastError()
{
    DWORD error = GetLastError();
    // A failed call always sets an error; never let a failure read as success.
    return error ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

// The read time-outs: a read returns at once with what is queued, else with
// the first byte to arrive, else empty after waitMs (0: at once).
bool SetReadWait(HANDLE handle, DWORD waitMs)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    return SetCommTimeouts(handle, &timeouts) != FALSE;
}

bool ReadState(HANDLE handle, DCB* dcb)
{
    ZeroMemory(dcb, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    return GetCommState(handle, dcb) != FALSE;
}

}  // namespace

bool Present(const char* name)
{
    if (!name || !*name)
        return false;
    // The DOS device names of the ports (COM3 -> \Device\Serial0); a
    // name typed with its \\.\ prefix is looked up without it.
    const char* bare = std::strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    char target[512];
    return QueryDosDeviceA(bare, target, sizeof target) != 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

int Open(const char* name, Handle* handle)
{
    const std::string path = PortDevicePath(name);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    *handle = reinterpret_cast<Handle>(h);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    return 0;
}

int Configure(Handle handle, uint32_t baud, ConfigStep* failed)
{
    *failed = ConfigStep::None;
    HANDLE h = Win(handle);

    // Queue sizes are only a request to the driver: a refusal is reported
    // to the caller but the port still works with the driver's own sizes.
    int queueError = 0;
    if (!SetupComm(h, kQueueBytes, kQueueBytes))
        queueError = LastError();

    DCB dcb;
    if (!ReadState(h, &dcb)) {
        *failed = ConfigStep::GetState;
        return LastError();
    }
    // 8N1, binary, no flow control of any kind, DTR and RTS held on; the
    // remaining fields keep what the driver reported.
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.wReserved = 0;
    if (!SetCommState(h, &dcb)) {
        *failed = ConfigStep::ApplyState;
        return LastError();
    }

    // A read returns at once with what is queued, else with the first byte
    // to arrive, else empty after 100 ms; a write of n bytes gives up after
    // 10 n + 100 ms.
    if (!SetReadWait(h, kReadWaitMs)) {
        *failed = ConfigStep::Timeouts;
        return LastError();
    }

    // Whatever errors the device had collected before we owned it do not
    // concern us.
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);

    if (queueError) {
        *failed = ConfigStep::Queues;
        return queueError;
    }
    return 0;
}

int SetBaud(Handle handle, uint32_t baud)
{
    HANDLE h = Win(handle);
    DCB dcb;
    // A failed read leaves the zeroed block; applying it then fails and
    // reports the error.
    ReadState(h, &dcb);
    dcb.BaudRate = baud;
    if (!SetCommState(h, &dcb))
        return LastError();
    return 0;
}

int Read(Handle handle, void* buffer, std::size_t size, std::size_t* got, uint32_t maxWaitMs)
{
    *got = 0;
    HANDLE h = Win(handle);
    const ULONGLONG begin = GetTickCount64();
    // Ask for exactly what is queued (or, with nothing queued, for one byte),
    // so the read ends at once, or when the first byte arrives, or empty after
    // 100 ms. Windows does that for any size under our time-outs; Wine keeps a
    // larger read waiting its full 100 ms even with bytes queued.
    DWORD want = 1;
    COMSTAT status{};
    DWORD errors = 0;
    if (ClearCommError(h, &errors, &status) && status.cbInQue > 0)
        want = status.cbInQue;
    if (want > size)
        want = static_cast<DWORD>(size);
    // A wait about to end must not overrun by a whole poll: only then is a
    // shorter read time-out set, and put back after.
    const bool shortWait = status.cbInQue == 0 && want > 0 && maxWaitMs < kReadWaitMs;
    if (shortWait)
        SetReadWait(h, maxWaitMs);
    DWORD n = 0;
    BOOL ok = ReadFile(h, buffer, want, &n, nullptr);
    int error = ok ? 0 : LastError();
    if (shortWait)
        SetReadWait(h, kReadWaitMs);
    if (error)
        return error;
    // The first byte after a wait seldom comes alone: take what came with it.
    if (want == 1 && n == 1 && size > 1 && ClearCommError(h, &errors, &status) &&
        status.cbInQue > 0) {
        DWORD more = status.cbInQue < size - 1 ? status.cbInQue : static_cast<DWORD>(size - 1);
        DWORD extra = 0;
        if (!ReadFile(h, static_cast<char*>(buffer) + 1, more, &extra, nullptr))
            return LastError();
        n += extra;
    }
    *got = n;
    if (n > 0 || size == 0)
        return 0;
    // An empty read should have waited out the port's time-out. One that came
    // back at once may be a device that is gone (a pulled USB adapter): ask
    // the port, and if it still answers, wait the rest of the poll here, so
    // that no caller spins on empty reads.
    const ULONGLONG pollMs = maxWaitMs < 100 ? maxWaitMs : 100;
    const ULONGLONG spent = GetTickCount64() - begin;
    if (spent + 16 < pollMs) {  // the tick count moves in steps of about 16 ms
        if (!ClearCommError(h, &errors, nullptr))
            return LastError();
        Sleep(static_cast<DWORD>(pollMs - spent));
    }
    return 0;
}

int Write(Handle handle, const void* bytes, std::size_t count, std::size_t* written)
{
    *written = 0;
    DWORD n = 0;
    if (!WriteFile(Win(handle), bytes, static_cast<DWORD>(count), &n, nullptr))
        return LastError();
    *written = n;
    return 0;
}

int PurgeInput(Handle handle)
{
    if (!PurgeComm(Win(handle), PURGE_RXCLEAR))
        return LastError();
    return 0;
}

int Close(Handle handle)
{
    if (!CloseHandle(Win(handle)))
        return LastError();
    return 0;
}

int Probe(const char* name)
{
    Handle handle;
    int error = Open(name, &handle);
    if (error == 0)
        CloseHandle(Win(handle));
    return error;
}

}  // namespace serial_backend
