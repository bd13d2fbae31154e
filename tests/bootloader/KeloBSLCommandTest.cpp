// The framed command exchange: on an in-memory line, and its time-out on a
// real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BslTestSupport.h"
#include "KeloBSLHost.h"
#include "MemoryLine.h"
#include "PtyPeer.h"

namespace {

const char* const kNoPayload = nullptr;

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override { line.KSOpen("memory", 9600); }

    MemoryLine line;
    KeloBSLHost host{line, nullptr};
    char answer[32] = {};
    uint32_t elapsed = 0;
};

TEST_F(CommandTest, FramesAreByteExactAndAnswersAreCounted)
{
    line.Expect("g.0095\r").Reply("+12+\r");
    line.Expect("X1000.0147\r").Reply("+\r");
    // The two forms build the same frame for the same payload.
    line.Expect(WordFrame('V', {0x012C, 0xFFFF})).Reply("+");
    line.Expect(Frame('V', "012CFFFF")).Reply("+");

    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), 5);
    EXPECT_STREQ(answer, "+12+\r");
    uint32_t address = 0x1000;
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), 2);
    const uint32_t words[] = {0x012C, 0xFFFF};
    EXPECT_EQ(host.BSLCommand('V', words, 2, '+', answer, &elapsed), 1);
    EXPECT_EQ(host.BSLCommand('V', "012CFFFF", 8, '+', answer, &elapsed), 1);
    EXPECT_EQ(line.Finish(), "");
}

TEST_F(CommandTest, OverlongPayloadsAndMissingArgumentsSendNothing)
{
    std::vector<uint32_t> words(129, 0x1234);
    std::string text(513, 'A');
    std::string full(512, 'A');
    line.Expect(Frame('W', full)).Reply("+\r");

    EXPECT_EQ(host.BSLCommand('W', words.data(), 129, '\r', answer, &elapsed), -11);
    EXPECT_EQ(host.BSLCommand('W', text.c_str(), 513, '\r', answer, &elapsed), -11);
    EXPECT_EQ(host.BSLCommand('W', kNoPayload, 4, '\r', answer, &elapsed), -10);
    EXPECT_EQ(host.BSLCommand('W', "ABCD", 4, '\r', nullptr, &elapsed), -10);
    EXPECT_EQ(host.BSLCommand('W', full.c_str(), 512, '\r', answer, &elapsed), 2);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_EQ(line.Received(), Frame('W', full));
}

TEST_F(CommandTest, RefusalsAndOtherAnswersPerForm)
{
    uint32_t address = 0x1000;
    line.Expect("X1000.0147\r").Reply("-\r");
    line.Expect("g.0095\r").Reply("-\r");
    line.Expect("X1000.0147\r").Reply("?\r");
    line.Expect("X1000.0147\r").Reply("ERR\r");
    line.Expect("g.0095\r").Reply("ERR\r");
    // An answer longer than 20 characters is cut.
    line.Expect("g.0095\r").Reply("+123456789012345678901234567890\r");

    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), 1);
    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), 20);
    EXPECT_EQ(std::strlen(answer), 20u);
    EXPECT_EQ(line.Finish(), "");
}

TEST_F(CommandTest, EveryCommandNeedsAnOpenPort)
{
    line.KSClose();
    uint32_t word = 0x1000;
    EXPECT_EQ(host.BSLCommand('X', &word, 1, '\r', answer, &elapsed), -21);
    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), -21);
    EXPECT_EQ(host.BSLDisconnect(), 0);
    EXPECT_EQ(host.BSLSendVectors(), -21);
    EXPECT_EQ(line.Received(), "");
}

TEST(CommandTiming, SilenceGivesMinus21AfterTheTimeOut)
{
    PtyPeer peer;
    KeloSerial port(nullptr);
    KeloBSLHost host(port, nullptr);
    char answer[32] = {};
    uint32_t elapsed = 0;
    peer.Expect(std::string("g.0095\r")).Silence(1200);
    ASSERT_EQ(port.KSOpen(peer.SlavePath(), 9600), 1);
    peer.Start();
    EXPECT_EQ(host.BSLCommand('g', kNoPayload, 0, '\r', answer, &elapsed), -21);
    EXPECT_GE(elapsed, 750u);
    EXPECT_LT(elapsed, 1100u);
    EXPECT_STREQ(answer, "");
}

}  // namespace
