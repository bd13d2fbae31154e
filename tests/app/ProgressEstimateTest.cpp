#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ProgressEstimate.h"

namespace {

// One reading: bytes done of total at a time, or (tick) only the time.
struct Reading {
    long long done;
    long long total;
    uint32_t ms;
    bool tick = false;
};

struct Case {
    std::string name;
    uint32_t startMs;
    std::vector<Reading> readings;
    double elapsed;
    std::optional<double> rate;
    std::optional<double> left;
};

bool Same(std::optional<double> got, std::optional<double> expected)
{
    return got.has_value() == expected.has_value() && (!got || std::abs(*got - *expected) < 1e-9);
}

constexpr uint32_t kNearWrap = 0xFFFFFFFFu - 999;  // the clock wraps 1 s after the start

}  // namespace

TEST(ProgressEstimate, RateAndTimeLeftFromTheBytesWritten)
{
    // The first reading comes after the erase: that time counts in the
    // elapsed time, not in the rate.
    const std::vector<Case> cases = {
        {"steady", 0, {{0, 10000, 1000}, {1000, 10000, 2000}, {2000, 10000, 3000}}, 3.0, 1000.0, 8.0},
        {"steady across the clock's wrap-around", kNearWrap, {{0, 10000, kNearWrap}, {3000, 10000, 2000}},
         3.0, 1000.0, 7.0},
        {"too few bytes yet", 0, {{0, 10000, 0}, {512, 10000, 1000}}, 1.0, std::nullopt, std::nullopt},
        {"too short a time yet", 0, {{0, 10000, 0}, {4000, 10000, 200}}, 0.2, std::nullopt, std::nullopt},
        {"stall lowers the rate", 0, {{0, 10000, 1000}, {2000, 10000, 3000}, {0, 0, 7000, true}}, 7.0,
         2000.0 / 6.0, 24.0},
        {"rate change: the average over the whole write", 0,
         {{0, 10000, 1000}, {2000, 10000, 3000}, {3000, 10000, 5000}}, 5.0, 750.0, 7000.0 / 750.0},
        {"finished: rate however short, nothing left, kept afterwards", 0,
         {{0, 600, 0}, {600, 600, 100}, {0, 0, 9000, true}}, 9.0, 6000.0, 0.0},
        {"unknown total: a rate but no time left", 0, {{0, 0, 0}, {2000, 0, 2000}}, 2.0, 1000.0, std::nullopt},
        {"nothing to write", 0, {{0, 0, 0}, {0, 0, 5000}}, 5.0, std::nullopt, std::nullopt},
        {"a new write starts the measurement again", 0,
         {{0, 10000, 0}, {8000, 10000, 1000}, {0, 4000, 2000}, {2000, 4000, 4000}}, 4.0, 1000.0, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressEstimate estimate;
        estimate.Start(c.startMs);
        for (const Reading& r : c.readings) {
            if (r.tick)
                estimate.Tick(r.ms);
            else
                estimate.SetBytes(r.done, r.total, r.ms);
        }
        EXPECT_DOUBLE_EQ(estimate.ElapsedSeconds(), c.elapsed);
        EXPECT_TRUE(Same(estimate.BytesPerSecond(), c.rate));
        EXPECT_TRUE(Same(estimate.SecondsLeft(), c.left));
    }
}
