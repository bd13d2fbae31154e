#include "PeerLine.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

namespace {

HANDLE OpenPort(const std::string& name)
{
    std::string path = "\\\\.\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

std::string FromEnvironment(const char* variable)
{
    const char* value = std::getenv(variable);
    if (!value || !*value)
        throw std::runtime_error(std::string(variable) +
                                 " is not set: name the two ends of a joined COM port pair "
                                 "in KELO_TEST_HOST_PORT and KELO_TEST_PEER_PORT");
    return value;
}

HANDLE Win(std::intptr_t line) { return reinterpret_cast<HANDLE>(line); }

}  // namespace

PeerLine::PeerLine()
{
    hostPort_ = FromEnvironment("KELO_TEST_HOST_PORT");
    const std::string peerPort = FromEnvironment("KELO_TEST_PEER_PORT");

    // Bytes an earlier test left unread on the host's side must not reach
    // this one. The host end is closed between tests, so it opens here.
    HANDLE host = OpenPort(hostPort_);
    if (host != INVALID_HANDLE_VALUE) {
        PurgeComm(host, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle(host);
    }

    HANDLE h = OpenPort(peerPort);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open the test peer port " + peerPort);
    line_ = reinterpret_cast<std::intptr_t>(h);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    SetCommState(h, &dcb);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

PeerLine::~PeerLine()
{
    if (line_ != -1)
        CloseHandle(Win(line_));
}

std::size_t PeerLine::Read(char* buffer, std::size_t size, uint32_t waitMs)
{
    if (line_ == -1 || size == 0)
        return 0;
    HANDLE h = Win(line_);
    // Take what is queued at once; with nothing queued wait for one byte.
    DWORD want = 1;
    COMSTAT status{};
    DWORD errors = 0;
    if (ClearCommError(h, &errors, &status) && status.cbInQue > 0)
        want = status.cbInQue < size ? status.cbInQue : static_cast<DWORD>(size);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (waitMs > 0) {
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = waitMs;
    }
    timeouts.WriteTotalTimeoutConstant = 2000;
    SetCommTimeouts(h, &timeouts);
    DWORD n = 0;
    if (!ReadFile(h, buffer, want, &n, nullptr))
        return 0;
    return n;
}

bool PeerLine::Write(const char* bytes, std::size_t count)
{
    std::size_t off = 0;
    while (off < count && line_ != -1) {
        DWORD n = 0;
        if (!WriteFile(Win(line_), bytes + off, static_cast<DWORD>(count - off), &n, nullptr) ||
            n == 0)
            return false;
        off += n;
    }
    return off == count;
}

bool PeerLine::Hangup()
{
    return false;
}
