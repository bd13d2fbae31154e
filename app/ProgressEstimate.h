// Elapsed time, line rate and time left of one update's image write, worked
// out from the bytes written so far. The caller passes the time of every
// reading (TickMs in the programs, made-up times in tests), so nothing here
// reads a clock and one estimate belongs to one update.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How far one update is, as every front end shows it.
struct Progress {
    int percent = 0;             // the bar, 0 to 100
    double elapsed = 0;          // seconds since the update began
    std::optional<double> eta;   // seconds left of the firmware write, when known
    std::optional<double> rate;  // bytes a second of the firmware write, when known
};

// "01:05": minutes and seconds, whole seconds rounded up so that "00:00"
// means done.
std::string MinutesSeconds(double seconds);

class ProgressEstimate {
public:
    // The rate is trusted only after this much of the write was measured:
    // two of the loader's 512-character frames, so that one frame's flash
    // write pause does not set the rate alone, and a quarter second, so that
    // the millisecond clock is off by well under one percent.
    static constexpr long long kMinMeasuredBytes = 1024;
    static constexpr uint32_t kMinMeasuredMs = 250;

    // The update begins: elapsed time counts from here, nothing written yet.
    void Start(uint32_t nowMs);
    // `done` of `total` bytes of the image are written at nowMs. The first
    // reading (or one whose `done` went back) begins the measurement; a
    // total of 0 or less means the size is unknown.
    void SetBytes(long long done, long long total, uint32_t nowMs);
    // Only the time moves on (a step without bytes): the elapsed time, and
    // while the write is under way its rate and time left, see the pause.
    void Tick(uint32_t nowMs);

    // Seconds from Start (or the first reading) to the latest time given.
    double ElapsedSeconds() const;
    // Bytes a second over the write so far; none until enough is measured,
    // except that a finished write always has its rate.
    std::optional<double> BytesPerSecond() const;
    // Seconds the bytes still to write take at that rate; 0 once all is written,
    // none while the rate or the total is unknown.
    std::optional<double> SecondsLeft() const;
    // All of the above with the bar's percent.
    Progress At(int percent) const { return Progress{percent, ElapsedSeconds(), SecondsLeft(), BytesPerSecond()}; }

private:
    bool started_ = false;
    uint32_t startMs_ = 0;
    uint32_t nowMs_ = 0;
    bool measuring_ = false;
    long long firstDone_ = 0;
    uint32_t firstMs_ = 0;
    uint32_t bytesMs_ = 0;
    long long done_ = 0;
    long long total_ = 0;
};
