// The wake sequence's rhythm, measured on the far side of a real
// pseudo-terminal: 909 carriage returns, one every 55 ms, about 50 s.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "NIVRA_Protocol.h"

TEST(WakeTiming, NineHundredNinePacketsFiftyFiveMsApart)
{
    int master = -1, slave = -1;
    char path[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, path, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(1000);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buffer[64];
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = ::read(master, buffer, sizeof buffer);
            auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] == '\r')
                    arrivals.push_back(now);
        }
    });

    KeloSerial port(nullptr);
    NIVRA_Protocol proto(port, nullptr);
    // With progress reporting the time spent in the hook must come off the pauses.
    ProtocolConfig config;
    config.progressReporting = 1;
    ASSERT_EQ(proto.Configure(&config, 1), 1);
    int calls = 0;
    proto.SetProgressHook([&](uint32_t total, uint32_t, int) {
        EXPECT_EQ(total, 909u);
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // 1.5 s in all: uncompensated, it shows
        return true;
    });
    ASSERT_EQ(port.KSOpen(path, 9600), 1);
    EXPECT_EQ(proto.SendWake(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    reader.join();
    port.KSClose();
    ::close(slave);
    ::close(master);

    ASSERT_EQ(arrivals.size(), 909u);
    EXPECT_EQ(calls, 51 + 1);  // every 18th packet, and the finish
    auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::microseconds>(d).count() / 1000.0;
    };
    const double span = ms(arrivals.back() - arrivals.front());
    EXPECT_NEAR(span, 908 * 55.0, 908 * 55.0 * 0.02);
    int late = 0;
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        double gap = ms(arrivals[i] - arrivals[i - 1]);
        if (gap < 40 || gap > 70)
            ++late;
    }
    EXPECT_LE(late, 20) << "gaps far from 55 ms";
}
