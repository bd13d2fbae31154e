// The device's end of the serial line: the master side of a pseudo-terminal.
// With pacing, bytes leave and are taken in at the line rate (10 bits a byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

class SimLine {
public:
    SimLine() = default;
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates the pseudo-terminal (raw mode); false with a message on failure.
    bool Open(std::string* error);
    const std::string& SlavePath() const { return slavePath_; }

    // Queues bytes for the host; they leave paced (or at once without pacing).
    // delayMs holds them back that long when nothing is queued before them
    // (a device slow to answer); behind queued bytes they simply follow.
    void Send(const std::string& bytes, uint32_t delayMs = 0);
    // Drops whatever has not left yet (a device that loses power mid-answer).
    void DropPending() { outgoing_.clear(); }
    bool Sending() const { return !outgoing_.empty(); }

    // The device's own line rate (0: no pacing). A host at another rate hears
    // garbage only if the device models that; pacing just follows this rate.
    void SetPace(uint32_t baud) { paceBaud_ = baud; }
    uint32_t Pace() const { return paceBaud_; }
    // The rate the host has set on its end of the line (0 if unknown).
    uint32_t HostBaud() const;

    // The cable is pulled: the pseudo-terminal's master closes, so the host's
    // port hangs up and its name disappears. Nothing moves afterwards.
    void Unplug();
    bool Unplugged() const { return master_ < 0; }

    void SetTrace(bool on) { trace_ = on; }
    // Bytes that crossed the line so far: taken in from the host, sent to it.
    uint64_t BytesIn() const { return bytesIn_; }
    uint64_t BytesOut() const { return bytesOut_; }
    static uint32_t NowMs();

    // One turn of the event loop: waits up to waitMs for input, moves paced
    // output, and returns the bytes that arrived (already paced).
    std::string Poll(uint32_t waitMs);

private:
    void Trace(const char* direction, const std::string& bytes);
    uint32_t ByteTimeUs() const;

    int master_ = -1;
    int keepSlave_ = -1;  // keeps the pty alive while no host has it open
    std::string slavePath_;
    std::deque<char> outgoing_;
    std::deque<char> incoming_;
    uint64_t nextOutUs_ = 0;
    uint64_t nextInUs_ = 0;
    uint32_t paceBaud_ = 0;
    uint64_t bytesIn_ = 0;
    uint64_t bytesOut_ = 0;
    bool trace_ = false;
};
