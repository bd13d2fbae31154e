#include "ProgressEstimate.h"

#include <cmath>
#include <cstdio>

#include "Timing.h"

// The rate is the average over the whole write so far, not over a short
// window: the serial line sets the pace, so the rate hardly changes, and a
// retried frame or a slow flash segment costs the same share of every later
// stretch too. A window would jump with every 512-character frame.

void ProgressEstimate::Start(uint32_t nowMs)
{
    *this = ProgressEstimate{};
    started_ = true;
    startMs_ = nowMs;
    nowMs_ = nowMs;
}

void ProgressEstimate::SetBytes(long long done, long long total, uint32_t nowMs)
{
    if (!started_)
        Start(nowMs);
    if (done < 0)
        done = 0;
    if (total > 0 && done > total)
        done = total;
    if (!measuring_ || done < done_) {
        measuring_ = true;
        firstDone_ = done;
        firstMs_ = nowMs;
    }
    done_ = done;
    total_ = total;
    bytesMs_ = nowMs;
    nowMs_ = nowMs;
}

void ProgressEstimate::Tick(uint32_t nowMs)
{
    if (!started_)
        Start(nowMs);
    nowMs_ = nowMs;
}

double ProgressEstimate::ElapsedSeconds() const
{
    return ElapsedMs(startMs_, nowMs_) / 1000.0;
}

std::optional<double> ProgressEstimate::BytesPerSecond() const
{
    if (!measuring_)
        return std::nullopt;
    // A finished write keeps the rate it ended with; an unfinished one
    // counts the time since its last bytes too, so a stall lowers the rate.
    const bool finished = total_ > 0 && done_ == total_;
    const long long bytes = done_ - firstDone_;
    const uint32_t ms = ElapsedMs(firstMs_, finished ? bytesMs_ : nowMs_);
    if (bytes <= 0 || ms == 0)
        return std::nullopt;
    if (!finished && (bytes < kMinMeasuredBytes || ms < kMinMeasuredMs))
        return std::nullopt;
    return bytes * 1000.0 / ms;
}

std::optional<double> ProgressEstimate::SecondsLeft() const
{
    if (!measuring_ || total_ <= 0)
        return std::nullopt;
    if (done_ == total_)
        return 0.0;
    const std::optional<double> rate = BytesPerSecond();
    if (!rate)
        return std::nullopt;
    return (total_ - done_) / *rate;
}

std::string MinutesSeconds(double seconds)
{
    const long long whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
    return text;
}
