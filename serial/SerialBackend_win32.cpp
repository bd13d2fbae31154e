// Windows comm ports through the Win32 communications API. Error numbers are
// GetLastError() values, passed on unchanged.
#include "SerialBackend.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

namespace serial_backend {

const Handle kNullHandle = 0;
const Handle kInvalidHandle = reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);

namespace {

constexpr DWORD kQueueBytes = 2048;

HANDLE Win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

int LastError()
{
    DWORD error = GetLastError();
    // A failed call always sets an error; never let a failure read as success.
    return error ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

bool ReadState(HANDLE handle, DCB* dcb)
{
    ZeroMemory(dcb, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    return GetCommState(handle, dcb) != FALSE;
}

}  // namespace

void DevicePath(const char* name, char* out, std::size_t size)
{
    // \\.\COM3: the device namespace, which also reaches COM10 and above.
    std::snprintf(out, size, "\\\\.\\%s", name);
}

int Open(const char* name, Handle* handle)
{
    char path[96];
    DevicePath(name, path, sizeof path);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (!SetCommTimeouts(h, &timeouts)) {
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
    // The port's read time-outs already bound every read to 100 ms; changing
    // them per call would cost a system call per poll for a few ms at most.
    *got = 0;
    const ULONGLONG begin = GetTickCount64();
    DWORD n = 0;
    if (!ReadFile(Win(handle), buffer, static_cast<DWORD>(size), &n, nullptr))
        return LastError();
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
        DWORD errors = 0;
        if (!ClearCommError(Win(handle), &errors, nullptr))
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
