// An in-memory serial line for protocol tests where no timing is under test:
// a scripted device that answers at once, lent to a protocol as its port in
// place of a pseudo-terminal (no thread, no device, nothing to wait for).
//
//   MemoryLine line;
//   line.Expect("g.0095\r").Reply("+12+\r");
//   KeloBSLHost host(line, nullptr);  ...  EXPECT_EQ(line.Finish(), "");
//
// What the protocol writes is matched against the script as it comes; a
// matched step's replies are what the next waits and reads find. A wait that
// does not find its character ends at once, as if its time-out had passed;
// a Late() reply arrives only then, as an answer that came after its time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "KeloSerial.h"

class MemoryLine : public KeloSerial {
public:
    MemoryLine() : KeloSerial(nullptr) {}

    // Script steps, run in order.
    MemoryLine& Expect(const std::string& bytes);  // exact bytes in
    MemoryLine& Reply(const std::string& bytes);   // bytes out, at once
    MemoryLine& Late(const std::string& bytes);    // bytes out after the next wait timed out

    // The errors (unexpected bytes, steps never reached), empty when the
    // whole script ran as written and nothing else was sent.
    std::string Finish() const;
    // Everything the protocol sent, in order.
    const std::string& Received() const { return received_; }

    int KSOpen(const char* portName, uint32_t baud) override;
    int KSClose() override;
    int KSWrite(const void* bytes, uint32_t count, uint32_t* written) override;
    int KSRead(void* destination, uint32_t capacity, uint32_t* delivered) override;
    int KSWait(uint32_t timeoutMs, char awaited) override;
    int KSPurge(int mode) override;
    int KSHostBaud(uint32_t baud) override;
    bool IsOpen() const override { return open_; }
    const char* ReadBuffer() const override { return waited_.c_str(); }

private:
    struct Step {
        enum Kind { Expect, Reply, Late } kind;
        std::string bytes;
    };
    void Run();

    std::deque<Step> steps_;
    std::string received_;
    std::string unmatched_;  // written, not yet matched by an Expect
    std::string arrived_;    // sent by the device, not yet read
    std::string waited_;     // what the last wait collected, as KeloSerial keeps it
    std::string errors_;
    bool replyReady_ = false;
    bool open_ = false;
};
