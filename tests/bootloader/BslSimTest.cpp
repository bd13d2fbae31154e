// The bootloader host against the simulated bootloader of kelosim.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "BslTestSupport.h"
#include "KeloBSLHost.h"
#include "KeloLog.h"
#include "KeloSerial.h"
#include "SimProcess.h"

namespace {

const std::string kFirmwareFile = KELO_SOURCE_DIR "/firmware/R7F-3-52.txt";

// One line to the device's command interpreter; the answer up to the prompt.
std::string Ask(const std::string& port, const std::string& command, char end = '>')
{
    KeloSerial serial(nullptr);
    if (serial.KSOpen(port.c_str(), 9600) < 0)
        return "<no port>";
    serial.KSPurge(1);
    uint32_t written = 0;
    serial.KSWrite(command.data(), static_cast<uint32_t>(command.size()), &written);
    serial.KSWait(1500, end);
    char answer[256] = {};
    uint32_t got = 0;
    serial.KSRead(answer, sizeof answer - 1, &got);
    serial.KSClose();
    return std::string(answer, got);
}

class BslSimTest : public ::testing::Test {
protected:
    void StartSim(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--restart-ms", "200", "--flash-dump", dump});
        std::string error;
        ASSERT_TRUE(sim.Start(args, &error)) << error;
    }
    // Erase, image and vectors, as the update does it.
    void Program()
    {
        ASSERT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), 2);
        ASSERT_EQ(host.BSLSendFirmware(), 2);
        ASSERT_EQ(host.BSLSendVectors(), 2);
        host.BSLDisconnect();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the device restarts
    }
    void ExpectDumpIsTheBuiltInImage()
    {
        ASSERT_EQ(sim.Stop(), 0);
        const std::string bin = dir.Path("expected.bin");
        ASSERT_EQ(std::system(("srec_cat " + kFirmwareFile + " -ti-txt -fill 0xFF 0 0x10000 -o " + bin +
                               " -binary").c_str()),
                  0);
        const std::string expected = ReadFile(bin);
        const std::string actual = ReadFile(dump);
        ASSERT_EQ(actual.size(), 0x10000u);
        ASSERT_EQ(expected.size(), 0x10000u);
        for (uint32_t a = 0; a < 0x10000; ++a)
            ASSERT_EQ(actual[a], expected[a]) << "flash differs at " << std::hex << a;
    }
    std::string Log() { return ReadFile(logPath); }

    TempDir dir;
    std::string dump = dir.Path("flash.bin");
    std::string logPath = dir.Path("log.txt");
    KeloLog log{logPath.c_str(), 30, true};
    KeloSerial port{&log};
    KeloBSLHost host{port, &log};
    SimProcess sim;
};

TEST_F(BslSimTest, UpdatesARunningDeviceToTheBuiltInImage)
{
    StartSim({"--type", "R7F", "--version", "3.51"});
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.51"), std::string::npos);
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), true, 3), 12);
    EXPECT_NE(Log().find("BSLInvocation successful (1 tries)"), std::string::npos);
    // The bootloader answers the interpreter's commands with its prompt.
    char answer[32];
    uint32_t elapsed = 0;
    EXPECT_EQ(host.BSLCommand('@', "FA00", 4, '\r', answer, &elapsed), -1);  // its own area
    Program();
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.52"), std::string::npos);
    EXPECT_NE(Ask(sim.Path(), "post\r").find("Code Good!"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, DeviceWithoutFirmwareWaitsInItsBootloader)
{
    StartSim({"--type", "R7F", "--bootloader"});
    EXPECT_EQ(Ask(sim.Path(), "get -ver\r", '$'), "$");
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), true, 3), 12);
    EXPECT_NE(Log().find("BSLInvocation found the KeloBSL already active"), std::string::npos);
    Program();
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.52"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, RefusedFramesAreRetriedAndUnerasedFlashIsNotWritten)
{
    StartSim({"--type", "R7F", "--fault", "bsl-refuse=3"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 3), 12);
    // Writing over the old firmware without an erase is refused every time.
    EXPECT_EQ(host.BSLSendFirmware(), -1);
    Program();
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.52"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, CorruptedAndDroppedBytesAreRecoveredByRetries)
{
    // Three tries of the longest frame span fewer bytes than lie between two
    // faults of a kind, so every frame gets through by its third try.
    StartSim({"--type", "R7F", "--fault", "bsl-corrupt=4999", "--fault", "bsl-drop=7001"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 3), 12);
    Program();
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.52"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, AWriteAnsweredLateIsRepeatedOverItselfNotAfterIt)
{
    // The 3rd piece begins 512 bytes into the record at 0x7200; its answer
    // comes after the host gave up waiting. Frame 130, a later piece, is
    // refused: the refusal must be read as that frame's answer, not the next.
    StartSim({"--type", "R7F", "--bootloader", "--pace", "115200", "--fault", "bsl-late=3", "--fault",
              "bsl-refuse=130"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 3), 12);
    ASSERT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), 2);
    EXPECT_GT(host.BSLSendFirmware(), 0);
    EXPECT_GT(host.BSLSendVectors(), 0);
    host.BSLDisconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_NE(Log().find("BSLSendFirmware sends the address 7400 again"), std::string::npos);
    EXPECT_NE(Log().find("BSLCommand dropped an answer that came after its time-out"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, FlashTakesAWriteThatOnlyClearsBits)
{
    StartSim({"--type", "R7F", "--bootloader"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 1), 12);
    const struct {
        const char* words;
        int result;
        const char* why;
    } kWrites[] = {
        {"A5F0", 2, "erased flash"},
        {"A5F0", 2, "the same bytes again"},
        {"2130", 2, "only bits cleared"},
        {"2131", -1, "a 0 bit would become 1"},
    };
    char answer[32];
    uint32_t elapsed = 0;
    for (const auto& w : kWrites) {
        ASSERT_EQ(host.BSLCommand('@', "2000", 4, '\r', answer, &elapsed), 2);
        EXPECT_EQ(host.BSLCommand('W', w.words, 4, '\r', answer, &elapsed), w.result) << w.why;
    }
    host.BSLDisconnect();
    ASSERT_EQ(sim.Stop(), 0);
    const std::string flash = ReadFile(dump);
    ASSERT_EQ(flash.size(), 0x10000u);
    EXPECT_EQ(flash.substr(0x2000, 2), "\x30\x21");  // low byte first; the refused write left it
}

TEST_F(BslSimTest, FaultsOfTheInvocation)
{
    StartSim({"--type", "R7F", "--fault", "no-bootloader"});
    EXPECT_EQ(host.BSLConnect(sim.Path().c_str(), true, 3), -112);
    EXPECT_FALSE(port.IsOpen());
    sim.Stop();
    StartSim({"--type", "R7F", "--fault", "bsl-refuse=1"});
    EXPECT_EQ(host.BSLConnect(sim.Path().c_str(), true, 3), -1);  // "g" refused every time
}

TEST_F(BslSimTest, StopThroughTheProgressHookLeavesTheDeviceInItsBootloader)
{
    StartSim({"--type", "R7F", "--version", "3.51"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), true, 3), 12);
    int calls = 0;
    host.SetProgressHook([&](uint32_t, uint32_t, int, char kind) { return kind == 'X' || ++calls < 5; });
    ASSERT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), 2);
    EXPECT_EQ(host.BSLSendFirmware(), -40);
    host.BSLDisconnect();
    // The old firmware is gone and the update unfinished: the bootloader stays.
    EXPECT_EQ(Ask(sim.Path(), "get -ver\r", '$'), "$");
}

TEST_F(BslSimTest, PowerLossDuringEraseIsFinishedAfterTheNextStart)
{
    const std::string state = dir.Path("state.bin");
    StartSim({"--type", "R7F", "--version", "3.51", "--state", state, "--fault", "power-loss=60"});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 3), 12);
    EXPECT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), -21);
    host.BSLDisconnect();
    ASSERT_EQ(sim.Stop(), 0);

    // The 0x7200 header survived (the erase stopped below it), yet the
    // device knows the update was cut short.
    StartSim({"--type", "R7F", "--state", state});
    ASSERT_EQ(host.BSLConnect(sim.Path().c_str(), false, 3), 12);
    EXPECT_NE(Log().find("BSLInvocation found the KeloBSL already active"), std::string::npos);
    Program();
    EXPECT_NE(Ask(sim.Path(), "get -ver\r").find("R7F 3.52"), std::string::npos);
    ExpectDumpIsTheBuiltInImage();
}

TEST_F(BslSimTest, CountsTheBytesOfTheLineAndWritesThemOnSigterm)
{
    const std::string stats = dir.Path("stats.txt");
    StartSim({"--type", "R7F", "--version", "3.51", "--stats", stats});
    std::size_t sent = 0, heard = 0;
    for (const std::string command : {"get -ver\r", "post\r"}) {
        const std::string answer = Ask(sim.Path(), command);
        ASSERT_NE(answer.find('>'), std::string::npos) << command;
        sent += command.size();
        heard += answer.size();
    }
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(stats), "rx=" + std::to_string(sent) + " tx=" + std::to_string(heard) + "\n");
}

}  // namespace
