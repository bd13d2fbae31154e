// The far end of a test line, which a scripted peer drives while the code
// under test opens HostPort().
//  - POSIX: the master side of a fresh pseudo-terminal; HostPort() is its slave.
//  - Windows: the second port of a pair of joined COM ports, named by
//    KELO_TEST_PEER_PORT, with the code under test on KELO_TEST_HOST_PORT: a
//    null-modem pair on Windows, or under Wine two dosdevices links to the
//    pseudo-terminals that kelo_pty_pair joins on the Linux side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class PeerLine {
public:
    PeerLine();  // throws std::runtime_error when there is no line to use
    ~PeerLine();
    PeerLine(const PeerLine&) = delete;
    PeerLine& operator=(const PeerLine&) = delete;

    const std::string& HostPort() const { return hostPort_; }

    // Waits up to waitMs for bytes; returns how many were read, 0 for none.
    std::size_t Read(char* buffer, std::size_t size, uint32_t waitMs);
    // Writes all bytes; false when the line is gone.
    bool Write(const char* bytes, std::size_t count);
    // Hangs up, so the host's next read fails. False where the line cannot
    // pass a hang-up on (the Windows port pairs).
    bool Hangup();

private:
    std::intptr_t line_ = -1;
    std::intptr_t keepHost_ = -1;  // POSIX: keeps the slave alive between host opens
    std::string hostPort_;
};
