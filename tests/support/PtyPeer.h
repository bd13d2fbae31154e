// A scripted device on the far side of a test line (a pseudo-terminal, or a
// joined COM port pair on Windows: see PeerLine.h), so that the serial port
// and everything above it are tested on a real terminal device.
//
//   PtyPeer peer;
//   peer.Expect("get -ver\r").Reply("R7F 3.51\r\n>").Silence(600);
//   port.KSOpen(peer.SlavePath(), 9600);  ... peer.Finish();
//
// The script runs on its own thread once Start() is called (or on the first
// step added after Start). Failures (unexpected bytes, time-outs) are kept and
// reported by Finish() / Errors().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PeerLine.h"

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const char* SlavePath() const { return line_.HostPort().c_str(); }

    // Script steps, run in order.
    PtyPeer& Expect(const std::string& bytes, uint32_t timeoutMs = 3000);  // exact bytes in
    PtyPeer& ExpectUntil(char end, uint32_t timeoutMs = 3000);             // anything up to `end`
    PtyPeer& Reply(const std::string& bytes);                               // bytes out
    PtyPeer& Silence(uint32_t ms);                                          // read and drop for ms
    PtyPeer& CloseLine();                                                   // hang up the master

    void Start();
    // Waits for the script to end (at most timeoutMs) and returns the errors,
    // empty when every step went as scripted.
    std::string Finish(uint32_t timeoutMs = 10000);
    // Everything the host sent, in order.
    std::string Received();

private:
    struct Step {
        enum Kind { Expect, ExpectUntil, Reply, Silence, Close } kind;
        std::string bytes;
        uint32_t ms;
    };
    PtyPeer& Add(Step step);
    void Run();
    bool ReadSome(uint32_t waitMs);

    PeerLine line_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    std::string received_;   // all bytes from the host
    std::size_t consumed_ = 0;
    std::string errors_;
    bool started_ = false;
    bool done_ = false;
    bool stop_ = false;
    std::thread thread_;
};
