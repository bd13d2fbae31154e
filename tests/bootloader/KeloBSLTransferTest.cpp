// Erase, image write and vector write against a scripted bootloader on an
// in-memory line.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "BslTestSupport.h"
#include "KeloLog.h"
#include "KeloBSLHost.h"
#include "MemoryLine.h"

namespace {

using Call = std::tuple<uint32_t, uint32_t, int, char>;

class TransferTest : public ::testing::Test {
protected:
    // The bootloader is already running: the quickest connect there is.
    void ScriptConnect() { line.Expect("boot ZUVA\r").Reply("?\r").Expect("g.0095\r").Reply("+12+\r"); }
    void Connect() { ASSERT_EQ(host.BSLConnect("memory", true, 3), 12); }
    void RecordProgress(int stopAtCall = -1)
    {
        host.SetProgressHook([this, stopAtCall](uint32_t total, uint32_t current, int phase, char kind) {
            calls.emplace_back(total, current, phase, kind);
            return static_cast<int>(calls.size()) != stopAtCall;
        });
    }
    // A one-record image from a TI-Text file with `bytes` bytes at 0x7200,
    // optionally followed by a second record.
    void LoadImage(uint32_t bytes, const std::string& more = "")
    {
        std::string text = "@7200\n";
        for (uint32_t i = 0; i < bytes; ++i)
            text += (i % 16 == 15 || i + 1 == bytes) ? "A5\n" : "A5 ";
        text += more + "@FFFE\n00 72\nq\n";
        host.SetImage(::LoadImage(dir.Write("R7F-3-60.txt", text), &log));
    }
    std::string Log() { return ReadFile(logPath); }

    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    KeloLog log{logPath.c_str(), 30, true};
    MemoryLine line;
    KeloBSLHost host{line, &log};
    std::vector<Call> calls;
};

std::vector<uint32_t> EraseAddresses(uint32_t start, uint32_t end)
{
    std::vector<uint32_t> out;
    for (uint32_t a = start; a < end;) {
        out.push_back(a);
        a += (a == 0x1000 || (a > 0x1000 && a < 0x1100)) ? 0x80 : 0x200;
    }
    return out;
}

TEST_F(TransferTest, EraseWalksTheSegmentsAndReportsProgress)
{
    ScriptConnect();
    const std::vector<uint32_t> addresses = EraseAddresses(0x1000, 0xF9FF);
    ASSERT_EQ(addresses.size(), 119u);
    ASSERT_EQ(addresses[1], 0x1080u);
    ASSERT_EQ(addresses[2], 0x1100u);
    ASSERT_EQ(addresses[3], 0x1300u);
    ASSERT_EQ(addresses.back(), 0xF900u);
    for (uint32_t a : addresses)
        line.Expect(WordFrame('X', {a})).Reply("+\r");
    line.Expect(WordFrame('X', {0x1100})).Reply("+\r");
    Connect();
    RecordProgress();

    EXPECT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), 2);
    // Before the 1st, 11th, 21st ... segment, then the end.
    std::vector<Call> expected;
    for (size_t i = 0; i < addresses.size(); i += 10)
        expected.emplace_back(116, (addresses[i] - 0x1000) / 512, 1, 'X');
    expected.emplace_back(116, 116, 2, 'X');
    EXPECT_EQ(calls, expected);
    EXPECT_NE(Log().find("BSLEraseFlash successful: segment 1000 to F9FF (0 s)"), std::string::npos);

    calls.clear();
    EXPECT_EQ(host.BSLEraseFlash(0x1100, 0x1300), 2);
    EXPECT_EQ(calls, (std::vector<Call>{{1, 0, 1, 'X'}, {1, 1, 2, 'X'}}));
    EXPECT_EQ(host.BSLEraseFlash(0x2000, 0x2000), 1);  // nothing to erase, nothing sent
    EXPECT_EQ(line.Finish(), "");
}

TEST_F(TransferTest, StopDuringEraseEndsWithMinus40AfterTheCommandInProgress)
{
    ScriptConnect();
    const std::vector<uint32_t> addresses = EraseAddresses(0x1000, 0xF9FF);
    for (size_t i = 0; i < 10; ++i)
        line.Expect(WordFrame('X', {addresses[i]})).Reply("+\r");
    Connect();
    RecordProgress(2);

    EXPECT_EQ(host.BSLEraseFlash(0x1000, 0xF9FF), -40);
    EXPECT_EQ(line.Finish(), "");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls.back(), Call(116, 116, 2, 'X'));
    EXPECT_NE(Log().find("BSLEraseFlash failed with error -40"), std::string::npos);
}

TEST_F(TransferTest, RefusedCommandsAreRetriedUpToTheTries)
{
    ScriptConnect();
    line.Expect(WordFrame('X', {0x1100})).Reply("-\r").Expect(WordFrame('X', {0x1100})).Reply("+\r");
    line.Expect(WordFrame('X', {0x1300})).Reply("-\r");
    line.Expect(WordFrame('X', {0x1300})).Reply("-\r");
    line.Expect(WordFrame('X', {0x1300})).Reply("-\r");
    std::vector<uint32_t> vectors(16, 0xFFFF);
    for (int i = 0; i < 3; ++i)
        line.Expect(WordFrame('V', vectors)).Reply("-\r");
    Connect();
    const std::string text = "@7200\n01 02\n@FFE0\n" + std::string(16, ' ') + "\nq\n";
    host.SetImage(::LoadImage(dir.Write("x.txt", text)));

    EXPECT_EQ(host.BSLEraseFlash(0x1100, 0x1500), -1);
    EXPECT_NE(Log().find("BSLEraseFlash failed with error -1"), std::string::npos);
    EXPECT_EQ(host.BSLSendVectors(), -1);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_NE(Log().find("BSLSendVectors failed with error -1 ("), std::string::npos);
}

TEST_F(TransferTest, FirmwareIsSentInPiecesOfAtMost512Characters)
{
    ScriptConnect();
    // 300 bytes: 150 words, 600 characters: 512 + 88.
    const std::string words600 = [] {
        std::string s;
        for (int i = 0; i < 150; ++i)
            s += "A5A5";
        return s;
    }();
    line.Expect(Frame('@', "7200")).Reply("+\r");
    line.Expect(Frame('W', words600.substr(0, 512))).Reply("-\r");  // refused once
    line.Expect(Frame('@', "7200")).Reply("+\r");
    line.Expect(Frame('W', words600.substr(0, 512))).Reply("+\r");
    line.Expect(Frame('W', words600.substr(512))).Reply("+\r");
    // 256 bytes end exactly on a piece; no empty "W" before the next "@".
    line.Expect(Frame('@', "7200")).Reply("+\r");
    line.Expect(Frame('W', words600.substr(0, 512))).Reply("+\r");
    line.Expect(Frame('@', "8000")).Reply("+\r");
    line.Expect(Frame('W', "0201")).Reply("+\r");
    line.Expect(WordFrame('V', {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x7200}))
        .Reply("+");
    Connect();
    RecordProgress();

    LoadImage(300);
    EXPECT_EQ(host.BSLSendFirmware(), 2);
    EXPECT_EQ(calls, (std::vector<Call>{{605, 0, 1, 'W'}, {605, 512, 1, 'W'}, {605, 605, 2, 'W'}}));
    LoadImage(256, "@8000\n01 02\n");
    EXPECT_EQ(host.BSLSendFirmware(), 2);
    EXPECT_EQ(host.BSLSendVectors(), 1);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_NE(Log().find("BSLSendFirmware successful (0 s)"), std::string::npos);
    EXPECT_NE(Log().find("BSLSendVectors successful ("), std::string::npos);
}

// The loader may have taken a piece whose answer came late: a repeat first
// sets the address back to where the piece begins, and sends no data while
// that address is refused.
TEST_F(TransferTest, RepeatedPieceIsReaddressedToWhereItBegins)
{
    ScriptConnect();
    // 300 bytes at 0x7200: the second piece (88 characters) begins at 0x7300.
    std::string words600;
    for (int i = 0; i < 150; ++i)
        words600 += "A5A5";
    line.Expect(Frame('@', "7200")).Reply("+\r");
    line.Expect(Frame('W', words600.substr(0, 512))).Reply("+\r");
    line.Expect(Frame('W', words600.substr(512))).Reply("-\r");
    line.Expect(Frame('@', "7300")).Reply("-\r");
    line.Expect(Frame('@', "7300")).Reply("+\r");
    line.Expect(Frame('W', words600.substr(512))).Reply("+\r");
    Connect();
    LoadImage(300);

    EXPECT_EQ(host.BSLSendFirmware(), 2);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_NE(Log().find("BSLSendFirmware sends the address 7300 again"), std::string::npos);
}

TEST_F(TransferTest, StopAndFailuresOfTheImageWrite)
{
    ScriptConnect();
    // The stop comes at image position 512, before the first piece is full.
    line.Expect(Frame('@', "7200")).Reply("+\r");
    // Second run: the record address is refused three times, no data follows.
    for (int i = 0; i < 3; ++i)
        line.Expect(Frame('@', "7200")).Reply("-\r");
    Connect();
    LoadImage(300);

    RecordProgress(2);
    EXPECT_EQ(host.BSLSendFirmware(), -40);
    EXPECT_EQ(calls.back(), Call(605, 605, 2, 'W'));
    host.SetProgressHook(nullptr);
    EXPECT_EQ(host.BSLSendFirmware(), -1);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_NE(Log().find("BSLSendFirmware failed with error -40"), std::string::npos);
    EXPECT_NE(Log().find("BSLSendFirmware failed with error -1"), std::string::npos);

    // Without an image there is nothing to send and nothing to log.
    const std::string before = Log();
    host.SetImage(nullptr);
    EXPECT_EQ(host.BSLSendFirmware(), -10);
    EXPECT_EQ(Log(), before);
}

}  // namespace
