// The framed command exchange on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BslTestSupport.h"
#include "PtyPeer.h"

namespace {

class CommandTest : public ::testing::Test {
protected:
    void Open() { ASSERT_EQ(host.KSOpen(peer.SlavePath(), 9600), 1); }

    PtyPeer peer;
    KeloBSLHost host{nullptr};
    char answer[32] = {};
    uint32_t elapsed = 0;
};

TEST_F(CommandTest, FramesAreByteExactAndAnswersAreCounted)
{
    peer.Expect(std::string("g.0095\r")).Reply("+12+\r");
    peer.Expect(std::string("X1000.0147\r")).Reply("+\r");
    // The two forms build the same frame for the same payload.
    peer.Expect(WordFrame('V', {0x012C, 0xFFFF})).Reply("+");
    peer.Expect(Frame('V', "012CFFFF")).Reply("+");
    Open();
    peer.Start();

    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), 5);
    EXPECT_STREQ(answer, "+12+\r");
    uint32_t address = 0x1000;
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), 2);
    const uint32_t words[] = {0x012C, 0xFFFF};
    EXPECT_EQ(host.BSLCommand('V', words, 2, '+', answer, &elapsed), 1);
    EXPECT_EQ(host.BSLCommand('V', "012CFFFF", 8, '+', answer, &elapsed), 1);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CommandTest, OverlongPayloadsAndMissingArgumentsSendNothing)
{
    std::vector<uint32_t> words(129, 0x1234);
    std::string text(513, 'A');
    std::string full(512, 'A');
    // The first bytes on the line must be those of the legal 512-character frame.
    peer.Expect(Frame('W', full)).Reply("+\r");
    Open();
    peer.Start();

    EXPECT_EQ(host.BSLCommand('W', words.data(), 129, '\r', answer, &elapsed), -11);
    EXPECT_EQ(host.BSLCommand('W', text.c_str(), 513, '\r', answer, &elapsed), -11);
    EXPECT_EQ(host.BSLCommand('W', static_cast<const char*>(nullptr), 4, '\r', answer, &elapsed), -10);
    EXPECT_EQ(host.BSLCommand('W', "ABCD", 4, '\r', nullptr, &elapsed), -10);
    EXPECT_EQ(host.BSLCommand('W', full.c_str(), 512, '\r', answer, &elapsed), 2);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), Frame('W', full));
}

TEST_F(CommandTest, RefusalsAndOtherAnswersPerForm)
{
    uint32_t address = 0x1000;
    peer.Expect(std::string("X1000.0147\r")).Reply("-\r");
    peer.Expect(std::string("g.0095\r")).Reply("-\r");
    peer.Expect(std::string("X1000.0147\r")).Reply("?\r");
    peer.Expect(std::string("X1000.0147\r")).Reply("ERR\r");
    peer.Expect(std::string("g.0095\r")).Reply("ERR\r");
    // An answer longer than 20 characters is cut.
    peer.Expect(std::string("g.0095\r")).Reply("+123456789012345678901234567890\r");
    Open();
    peer.Start();

    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', answer, &elapsed), 1);
    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), -1);
    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), 20);
    EXPECT_EQ(std::strlen(answer), 20u);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(CommandTest, SilenceGivesMinus21AfterTheTimeOut)
{
    peer.Expect(std::string("g.0095\r")).Silence(1200);
    Open();
    peer.Start();
    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), -21);
    EXPECT_GE(elapsed, 750u);
    EXPECT_LT(elapsed, 1100u);
    EXPECT_STREQ(answer, "");
}

TEST(CommandClosed, EveryCommandNeedsAnOpenPort)
{
    KeloBSLHost host(nullptr);
    char answer[32];
    uint32_t elapsed = 0;
    uint32_t word = 0x1000;
    EXPECT_EQ(host.BSLCommand('X', &word, 1, '\r', answer, &elapsed), -21);
    EXPECT_EQ(host.BSLCommand('g', static_cast<const char*>(nullptr), 0, '\r', answer, &elapsed), -21);
    EXPECT_EQ(host.BSLDisconnect(), 0);
    EXPECT_EQ(host.BSLSendVectors(), -21);
}

TEST(BuiltInImage, IsTheR7F352FirmwareFileOfTheBuild)
{
    KeloBSLHost builtIn(nullptr);
    EXPECT_EQ(builtIn.ImageLength(), 56334u);
    EXPECT_STREQ(builtIn.TargetName(), "Series 7F 3.52");
    EXPECT_EQ(builtIn.TargetType(), 12);
    EXPECT_FALSE(builtIn.ImageOwned());
    EXPECT_EQ(std::string(builtIn.ImageText(), 5), "@7200");
    EXPECT_EQ(builtIn.VectorTable()[15], 0x7200u);  // reset starts at the identity header

    // The constant is the firmware file, as the loader reads it.
    KeloBSLHost loaded(nullptr);
    ASSERT_EQ(loaded.BSLLoadTIFile(KELO_SOURCE_DIR "/firmware/R7F-3-52.txt"), 1);
    ASSERT_EQ(loaded.ImageLength(), builtIn.ImageLength());
    EXPECT_EQ(std::memcmp(loaded.ImageText(), builtIn.ImageText(), builtIn.ImageLength()), 0);
    EXPECT_EQ(std::memcmp(loaded.VectorTable(), builtIn.VectorTable(), 16 * sizeof(uint32_t)), 0);
    EXPECT_EQ(loaded.ImageVersion(), 352);
    EXPECT_NE(std::string(builtIn.ImageText(), builtIn.ImageLength()).find("@FE00"), std::string::npos);

    std::vector<uint8_t> memory;
    ASSERT_TRUE(DecodeImage(builtIn.ImageText(), builtIn.ImageLength(), &memory));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&memory[0x7200]), 12), std::string("KELOR7F 3.52"));
}

}  // namespace
