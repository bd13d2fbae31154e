#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "KeloLog.h"
#include "KeloSerial.h"
#include "Timing.h"
#include "PtyPeer.h"
#include "SerialBackend.h"
#include "TestPlatform.h"

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = std::string(::testing::TempDir()) + "serial" + std::to_string(::getpid()) + ".log";
        log_ = std::make_unique<KeloLog>(path_.c_str(), 40, true);
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::string LogText()
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

    std::string path_;
    std::unique_ptr<KeloLog> log_;
};

}  // namespace

TEST_F(SerialTest, OpenAtZeroBaudConfiguresNineSixHundred)
{
    PtyPeer peer;
    KeloSerial port(log_.get());
    EXPECT_EQ(port.KSOpen(peer.SlavePath(), 0), 1);
    EXPECT_EQ(port.Baud(), 9600u);
    EXPECT_TRUE(Logged(std::string(peer.SlavePath()) +
                       ": KSOpen successfully opened and configured comm port at 9600 baud\r\n"));
    EXPECT_EQ(port.KSHostBaud(9600), 0);
    EXPECT_EQ(port.KSHostBaud(19200), 1);
    EXPECT_EQ(port.Baud(), 19200u);
    EXPECT_EQ(port.KSClose(), 1);
    EXPECT_TRUE(Logged("KSClose closed comm port"));
    EXPECT_EQ(port.KSClose(), 0);
}

TEST_F(SerialTest, ReopenOfAnOpenPortLogsAndSucceeds)
{
    PtyPeer peer;
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    int64_t start = NowMs();
    EXPECT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    EXPECT_GE(NowMs() - start, 100);
    EXPECT_TRUE(Logged("KeloSerial: KSOpen found port \""));
    EXPECT_TRUE(Logged("\" already open"));
}

TEST_F(SerialTest, MissingPortGivesNoSuchPortAndKeepsTheName)
{
    KeloSerial port(log_.get());
    EXPECT_EQ(port.KSOpen(kMissingPort, 9600), -2);
    EXPECT_STREQ(port.PortName(), kMissingPort);
    EXPECT_TRUE(Logged(std::string(kMissingPort) + ": KSOpen failed to open comm port (error 2)"));
    // The failed open leaves the invalid handle: I/O reaches the system (error 6).
    uint32_t n = 0;
    EXPECT_EQ(port.KSWrite("x", 1, &n), -21);
    EXPECT_TRUE(Logged("KSWrite WriteFile failed (error 6)"));
    EXPECT_EQ(port.KSClose(), 0);
}

TEST_F(SerialTest, PortHeldByAnotherProgramIsInUse)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine does not make COM ports exclusive: run on Windows";
    PtyPeer peer;
    // The back end's own open is exclusive, as another program's would be.
    serial_backend::Handle other;
    ASSERT_EQ(serial_backend::Open(peer.SlavePath(), &other), 0);
    KeloSerial port(log_.get());
    EXPECT_EQ(port.KSOpen(peer.SlavePath(), 9600), -5);
    serial_backend::Close(other);
    EXPECT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
}

TEST_F(SerialTest, PortWhoseConfigurationFailsIsClosedAgain)
{
    // Something that opens but is no serial line: a plain file (on Windows a
    // COM port the test set-up links to one, see tools/test-windows.sh).
#if defined(_WIN32)
    const char* name = std::getenv("KELO_TEST_NOTTY_PORT");
    if (!name || !*name)
        GTEST_SKIP() << "KELO_TEST_NOTTY_PORT names no COM port that is a plain file";
#else
    std::string file = std::string(::testing::TempDir()) + "notatty" + std::to_string(::getpid());
    std::ofstream(file) << "x";
    const char* name = file.c_str();
#endif
    KeloSerial port(log_.get());
    EXPECT_LT(port.KSOpen(name, 9600), 0);
    EXPECT_TRUE(Logged("KSOpen failed to retreive DCB on comm port (error "));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.KSClose(), 0);
    // Nothing holds it now: an exclusive open succeeds.
    serial_backend::Handle again;
    EXPECT_EQ(serial_backend::Open(name, &again), 0);
    serial_backend::Close(again);
#if !defined(_WIN32)
    std::remove(file.c_str());
#endif
}

TEST_F(SerialTest, NeverOpenedPortReportsClosedWithSerialTag)
{
    KeloSerial port(log_.get());
    char buffer[8];
    uint32_t n = 99;
    EXPECT_EQ(port.KSWrite("x", 1, &n), -21);
    EXPECT_EQ(port.KSWait(100, '>'), -21);  // closed is checked before the buffer
    EXPECT_EQ(port.KSRead(buffer, sizeof buffer, &n), -60);  // no buffer was ever allocated
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(port.KSHostBaud(19200), -6);
    EXPECT_TRUE(Logged("KeloSerial: KSWrite tried to write to a closed port\r\n"));
    EXPECT_TRUE(Logged("KeloSerial: KSWait tried to operate on a closed port\r\n"));

    char owned[KeloSerial::kReadBufferSize] = {};
    KeloSerial withBuffer(log_.get(), owned);
    EXPECT_EQ(withBuffer.KSRead(buffer, sizeof buffer, &n), -21);
    EXPECT_TRUE(Logged("KeloSerial: KSRead tried to read from a closed port\r\n"));
}

TEST_F(SerialTest, WaitThenReadHandsOverExactlyTheBufferedAnswer)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("R7F 3.51\r\n>").Silence(300).Reply("late");
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    peer.Start();
    port.KSPurge(1);
    uint32_t n = 0;
    ASSERT_EQ(port.KSWrite("get -ver\r", 9, &n), 9);
    EXPECT_EQ(port.KSWait(1000, '>'), '>');
    EXPECT_TRUE(Logged("KSWait found '>' in "));
    char answer[64];
    EXPECT_EQ(port.KSRead(answer, sizeof answer, &n), 11);
    EXPECT_EQ(std::string(answer, n), "R7F 3.51\r\n>");
    EXPECT_TRUE(Logged("KSRead read 11 bytes from gReadBuffer"));
    EXPECT_FALSE(Logged("btyes"));  // the port itself was not read
    EXPECT_EQ(peer.Finish(), "");
    // Now the port is read: the late bytes arrive through a plain read.
    std::string late;
    for (int i = 0; i < 10 && late.size() < 4; ++i) {
        port.KSRead(answer, sizeof answer, &n);
        late.append(answer, n);
    }
    EXPECT_EQ(late, "late");
    EXPECT_TRUE(Logged("KSRead read 4 btyes"));
}

TEST_F(SerialTest, ShortReadDropsTheRestWithoutReadingThePort)
{
    PtyPeer peer;
    std::string thirty = "0123456789abcdefghijklmnopqrs>";
    peer.Reply(thirty).Silence(200).Reply("more");
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    peer.Start();
    ASSERT_EQ(port.KSWait(1000, '>'), '>');
    char answer[20];
    uint32_t n = 0;
    EXPECT_EQ(port.KSRead(answer, 20, &n), 20);
    EXPECT_EQ(std::string(answer, n), thirty.substr(0, 20));
    EXPECT_FALSE(Logged("btyes"));
    peer.Finish();
}

TEST_F(SerialTest, SilentLineTimesOutAfterTheTimeOutWithoutSpinning)
{
    PtyPeer peer;
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    int64_t start = NowMs();
    EXPECT_EQ(port.KSWait(500, '>'), 0);
    int64_t took = NowMs() - start;
    EXPECT_GE(took, 500);
    EXPECT_LE(took, 700);  // one short poll past the time-out, plus a loaded machine
    EXPECT_TRUE(Logged("KSWait read 0 bytes, but never found '>' in ")) << LogText();
}

TEST_F(SerialTest, LongWaitOnSilentOrFloodedLineUsesLittleCpu)
{
    // A full buffer without the awaited character must not spin either.
    PtyPeer peer;
    peer.Reply(std::string(3000, 'x')).Silence(5500);
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    peer.Start();
    double cpuStart = ProcessCpuMs();
    int64_t start = NowMs();
    EXPECT_EQ(port.KSWait(5000, '>'), 0);
    int64_t wall = NowMs() - start;
    double cpuMs = ProcessCpuMs() - cpuStart;
    EXPECT_GE(wall, 5000);
    EXPECT_LT(cpuMs, 0.05 * static_cast<double>(wall));
    char answer[KeloSerial::kReadBufferSize];
    uint32_t n = 0;
    port.KSRead(answer, sizeof answer, &n);
    EXPECT_TRUE(Logged("KSRead read 2047 bytes from gReadBuffer")) << "the wait keeps at most 2047 bytes";
}

TEST_F(SerialTest, WaitRunsAnInstalledPumpOftenAndTakesTheAnswerAtOnce)
{
    PtyPeer peer;
    peer.Silence(400).Reply("ok>");
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    int64_t last = NowMs();
    int64_t largestGap = 0;
    SetEventPump([&](uint32_t) {
        int64_t now = NowMs();
        largestGap = std::max(largestGap, now - last);
        last = now;
    });
    peer.Start();
    int64_t start = NowMs();
    EXPECT_EQ(port.KSWait(2000, '>'), '>');
    int64_t took = NowMs() - start;
    SetEventPump(nullptr);
    EXPECT_GE(took, 400);
    EXPECT_LT(took, 550);  // the answer ends the wait, not the next slice or the time-out
    EXPECT_LE(largestGap, 50) << "the pump waited too long between runs";
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(SerialTest, AnAnswerTricklingInDoesNotDelayThePump)
{
    // A byte every 19 ms: each arrives inside a slice, and the pump must
    // still run once a slice, not once every two.
    PtyPeer peer;
    for (int i = 0; i < 8; ++i)
        peer.Reply("x").Silence(19);
    peer.Reply(">");
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    int64_t last = -1;
    int64_t largestGap = 0;
    SetEventPump([&](uint32_t) {
        int64_t now = NowMs();
        if (last >= 0)
            largestGap = std::max(largestGap, now - last);
        last = now;
    });
    peer.Start();
    EXPECT_EQ(port.KSWait(2000, '>'), '>');
    SetEventPump(nullptr);
    EXPECT_LE(largestGap, 32) << "the pump waited too long between runs";
    EXPECT_EQ(peer.Finish(), "");
}

// /dev/serial/by-id/ names run past 100 characters; a name is never cut,
// which could open another port, and one longer than any path is no port.
TEST_F(SerialTest, PortNamesOfAnyLengthOpen)
{
#if defined(_WIN32)
    GTEST_SKIP() << "links to a pseudo-terminal are a POSIX matter";
#else
    PtyPeer peer;
    const std::string top = std::string(::testing::TempDir()) + "by-id-" + std::to_string(::getpid());
    const std::string dir = top + "/" + std::string(70, 'd') + "/";
    const std::string link = dir + "usb-Tessaly_Devices_USB_Serial_Converter_" + std::string(40, '7') + "-if00-port0";
    ASSERT_GT(link.size(), 150u);
    std::filesystem::create_directories(dir);
    ASSERT_EQ(::symlink(peer.SlavePath(), link.c_str()), 0);
    KeloSerial port(log_.get());
    EXPECT_EQ(port.KSOpen(link.c_str(), 9600), 1);
    EXPECT_EQ(std::string(port.PortName()), link);
    EXPECT_TRUE(Logged(link + ": KSOpen successfully opened"));
    port.KSClose();
    std::filesystem::remove_all(top);

    KeloSerial tooLong(log_.get());
    EXPECT_EQ(tooLong.KSOpen(("/dev/" + std::string(5000, 'z')).c_str(), 9600), -2);
#endif
}

TEST_F(SerialTest, ClosedLineAfterOpenReportsReadFailure)
{
#if defined(_WIN32)
    GTEST_SKIP() << "a pair of COM ports cannot pass a hang-up on";
#endif
    PtyPeer peer;
    peer.CloseLine();
    KeloSerial port(log_.get());
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    peer.Start();
    peer.Finish();
    // A pulled cable: the wait ends at once with an error instead of running
    // out its time-out, and so do reads and writes.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(port.KSWait(5000, '>'), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_TRUE(Logged("KSWait ReadFile failed (error "));
    char buffer[8];
    uint32_t n = 0;
    EXPECT_LT(port.KSRead(buffer, sizeof buffer, &n), 0);
    EXPECT_LT(port.KSWrite("\r", 1, &n), 0);
}

// A station waits for a port's name to appear: a port, or a link to one, is
// there; a link left by a pulled adapter, a plain file or nothing is not.
TEST(SerialBackendTest, PresentOnlyWhileThePortsNameLeadsToADevice)
{
#if defined(_WIN32)
    GTEST_SKIP() << "COM port names come and go with the driver, not a file";
#else
    PtyPeer peer;
    const std::string dir = std::filesystem::temp_directory_path() / ("present-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string link = dir + "/usb-adapter-if00";
    std::filesystem::create_symlink(peer.SlavePath(), link);
    EXPECT_TRUE(serial_backend::Present(peer.SlavePath()));
    EXPECT_TRUE(serial_backend::Present(link.c_str()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(dir + "/gone", link);
    EXPECT_FALSE(serial_backend::Present(link.c_str()));
    std::ofstream(dir + "/file") << "x";
    EXPECT_FALSE(serial_backend::Present((dir + "/file").c_str()));
    EXPECT_FALSE(serial_backend::Present(""));
    std::filesystem::remove_all(dir);
#endif
}
