// What every simulated logger shares: assembling command lines, the sleep of
// a logger in the field that must be woken by the wake sequence, and the
// faults that are not about one command.
#pragma once

#include <cstdint>
#include <string>

#include "SimApp.h"

class SimLoggerBase : public SimApp {
public:
    // behindRadio: the logger is reached through a radio modem and sleeps
    // until it has heard the wake sequence.
    SimLoggerBase(SimDeviceControl& device, bool behindRadio);
    void OnBytes(const char* data, std::size_t size) override;

protected:
    // Handles one command line (without its CR) and returns the answer, or
    // an empty string for none. May call device_.EnterBootloader() and then
    // must return at once with "".
    virtual std::string Handle(const std::string& line) = 0;

    std::string Setting(const std::string& key, const std::string& fallback = "") const;
    void SetSetting(const std::string& key, const std::string& value);
    std::string Name() const { return Setting("name"); }
    // Seconds of the logger's own wall clock (local time as seconds since 1970).
    int64_t ClockNow() const;
    void SetClock(int64_t wallSeconds);
    std::string ClockText() const;  // "2026-12-08 9:05:03"
    void GoToSleep() { asleep_ = behindRadio_; wakeCount_ = 0; }

    SimDeviceControl& device_;
    const bool behindRadio_;
    bool left_ = false;  // the bootloader has the line

private:
    void Line(const std::string& line);

    std::string line_;
    bool asleep_ = false;
    long wakeCount_ = 0;
    long wakeNeeded_ = 800;
    long commands_ = 0;
    long silentAfter_ = -1;
    int64_t clockOffset_ = 0;
};
