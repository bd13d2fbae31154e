// SimBootloader: the resident bootloader of a simulated device, written from
// the device's side of the line. It answers "\r" with its prompt "$", "P" with
// "#", and checked frames (command, payload, ".", 4-digit checksum, CR) with
// "+" or "-": "g" version, "X" erase, "@" address, "W" write, "V" vectors and
// restart. Other lines get "?\r" (the boot command) or the prompt.
//
// Faults (--fault): bsl-refuse=N refuses every N-th frame; bsl-drop=N loses
// and bsl-corrupt=N flips every N-th byte received; power-loss=N cuts the
// power when frame N+1 arrives; unplug=N pulls the cable (closes the line)
// when frame N+1 arrives; bsl-silent never answers; bsl-version=N reports
// version N (default 12); bsl-late=N writes the N-th "W" frame but answers it
// only after kLateAnswerMs, later than the host waits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SimFlash.h"
#include "SimLine.h"
#include "SimOptions.h"

class SimBootloader {
public:
    struct Events {
        std::function<void()> flashChanging;  // first erase or write of a session
        std::function<void()> restart;        // after "V": boot what the flash holds
        std::function<void()> powerLoss;      // the device goes dark
    };

    SimBootloader(const SimOptions& options, SimLine& line, SimFlash& flash, Events events);

    static constexpr uint32_t kLateAnswerMs = 1000;

    // A new session: the device (re)entered its bootloader.
    void StartSession();
    void OnBytes(const char* data, std::size_t size);
    // Sends an answer held back by bsl-late once it is due.
    void OnTick(uint32_t nowMs);

private:
    void OnLine(const std::string& line);
    void OnFrame(char command, const std::string& payload);
    bool Erase(const std::string& payload);
    bool SetAddress(const std::string& payload);
    bool WriteWords(const std::string& payload);
    bool WriteVectors(const std::string& payload);
    void EraseTopSegment();
    void Answer(const std::string& text);
    void FlashChanging();

    const SimOptions& options_;
    SimLine& line_;
    SimFlash& flash_;
    Events events_;

    std::string buffer_;
    long bytesIn_ = 0;
    long frames_ = 0;
    long writeFrames_ = 0;
    bool lateDue_ = false;               // a held-back "+" waits for lateAtMs_
    uint32_t lateAtMs_ = 0;
    int64_t writeAddress_ = -1;
    bool topErased_ = false;             // this session erased 0xFE00-0xFFFF
    std::vector<uint8_t> topWritten_;    // bytes of 0xFE00-0xFFDF written this session
    bool changing_ = false;
    bool dead_ = false;
};
