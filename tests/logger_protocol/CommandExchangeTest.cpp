// One command, one answer: the answers' logic on an in-memory line, the
// time-outs and late answers on a pseudo-terminal.
#include <chrono>

#include "LoggerFixture.h"
#include "MemoryLine.h"
#include "Timing.h"

namespace {

class CommandExchange : public LoggerFixture {
protected:
    void Open(PtyPeer& peer)
    {
        ASSERT_EQ(port_->KSOpen(peer.SlavePath(), 9600), 1);
        peer.Start();
    }
    int32_t Command(const char* command, uint32_t timeoutMs = 300, uint32_t size = 64)
    {
        length_ = size;
        return proto_->DeviceCommand(command, '>', timeoutMs, answer_, &length_, &elapsed_);
    }
    char answer_[256] = {};
    uint32_t length_ = 0;
    uint32_t elapsed_ = 0;
};

// The same exchange over an in-memory line that answers at once.
class AnswerLogic : public CommandExchange {
protected:
    void SetUp() override
    {
        CommandExchange::SetUp();
        proto_ = std::make_unique<NIVRA_Protocol>(line, log_.get());
        line.KSOpen("memory", 9600);
    }
    void TearDown() override
    {
        proto_.reset();  // before the line it borrows
        CommandExchange::TearDown();
    }
    MemoryLine line;
};

}  // namespace

TEST_F(AnswerLogic, AnswerIsCopiedAndCounted)
{
    line.Expect("get -w\r").Reply("\r60\r>");
    EXPECT_EQ(Command("get -w\r"), 5);
    EXPECT_STREQ(answer_, "\r60\r>");
    EXPECT_EQ(length_, 5u);
    EXPECT_EQ(line.Finish(), "");
}

TEST_F(AnswerLogic, EchoEndsAtOnce)
{
    line.Expect("get -w\r").Reply("get -w\r>");
    EXPECT_EQ(Command("get -w\r"), -32);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_EQ(line.Received(), "get -w\r");  // no second try
    EXPECT_STREQ(answer_, "");
    EXPECT_EQ(length_, 0u);
    EXPECT_TRUE(Logged("DeviceCommand is hearing echoed commands -- device is broken? Relay active?"));
}

TEST_F(CommandExchange, SilenceOnEveryTryIsMinus21AnswerOnLaterTryWins)
{
    {
        PtyPeer peer;
        peer.Silence(2500);  // each silent try is followed by a wait for its late answer
        Open(peer);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Command("get -w\r", 200), -21);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_GE(ms, 3 * 200);  // every try waited its full time-out
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_EQ(peer.Received(), "get -w\rget -w\rget -w\r");
        port_->KSClose();
    }
    PtyPeer peer;
    peer.Expect("get -w\r").Expect("get -w\r").Reply("\r5\r>");
    Open(peer);
    EXPECT_EQ(Command("get -w\r", 200), 4);
    EXPECT_EQ(peer.Finish(), "");
    PauseMs(300);
    EXPECT_EQ(peer.Received(), "get -w\rget -w\r");  // the answer ended the loop
}

// An answer whose terminator comes after the time-out is no answer, and its
// late rest must not be taken for the answer to the next command.
TEST_F(CommandExchange, AnswerCutByTheTimeOutIsDroppedWithItsLateRest)
{
    PtyPeer peer;
    peer.Expect("get -config\r").Reply("\rCH1=ON CH2").Silence(450).Reply("=OFF AVG=8\r>");
    peer.Expect("get -sn\r").Reply("\rKS1\r>");
    Open(peer);
    proto_->SetRetryCount(1);
    EXPECT_EQ(Command("get -config\r", 300), NIVRA_Protocol::kUnfinishedAnswer);
    EXPECT_STREQ(answer_, "");
    EXPECT_STREQ(proto_->LastAnswer(), "\rCH1=ON CH2");
    EXPECT_EQ(Command("get -sn\r", 300), 6);
    EXPECT_STREQ(answer_, "\rKS1\r>");
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_TRUE(Logged("DeviceCommand dropped 12 bytes that came after their time-out"));
}

TEST_F(CommandExchange, SilenceAfterUnusableAnswerIsMinus22)
{
    PtyPeer peer;
    peer.Expect("x\r").Reply("?\r>");
    Open(peer);
    proto_->SetRetryCount(2);
    EXPECT_EQ(Command("x\r", 200), -22);
}

TEST_F(AnswerLogic, QuestionMarkAnywhereIsRefusalRepeated)
{
    line.Expect("set -w 5\r").Reply("\rwhat?\r>").Expect("set -w 5\r").Reply("\rERROR\r>")
        .Expect("set -w 5\r").Reply("\rUnsupported\r>");
    EXPECT_EQ(Command("set -w 5\r"), -34);
    EXPECT_EQ(line.Finish(), "");
}

TEST_F(AnswerLogic, ShortBufferGetsPrefixAndLogLine)
{
    line.Expect("get -sn\r").Reply("\rKS000123\r>");
    EXPECT_EQ(Command("get -sn\r", 300, 5), 11);
    EXPECT_STREQ(answer_, "\rKS0");
    EXPECT_EQ(length_, 4u);
    EXPECT_TRUE(Logged("DeviceCommand got 7 more bytes than expected"));
}

TEST_F(AnswerLogic, BarePromptIsMinus31AfterTheCopy)
{
    line.Expect("get -i\r").Reply("\r\r>");
    EXPECT_EQ(Command("get -i\r"), -31);
    EXPECT_STREQ(answer_, "\r\r>");
    EXPECT_TRUE(Logged("DeviceCommand: device returned empty answer"));
}

TEST_F(AnswerLogic, ClosedPortPassesSerialError)
{
    line.KSClose();
    EXPECT_EQ(Command("get -w\r"), -21);
}

TEST(CheckDeviceName, Rules)
{
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("query"), -52);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("QUERY"), 1);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("OK"), -52);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("ok"), 1);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("A B"), -50);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("AB\x7f"), -50);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("AB:C"), -51);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("A,B C"), -51);  // the first offender decides
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("A B,C"), -50);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("ABCDEFGH"), 1);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName("ABCD FGHI"), -54);  // length before characters
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName(""), -53);
    EXPECT_EQ(NIVRA_Protocol::CheckDeviceName(nullptr), -53);
}

TEST(Configure, LimitsAndDefaults)
{
    MemoryLine line;
    NIVRA_Protocol proto(line, nullptr);
    EXPECT_EQ(proto.InitStatus(), 1);
    ProtocolConfig config;
    config.serialRetries = 13;
    EXPECT_EQ(proto.Configure(&config, 1), -11);
    ProtocolConfig current;
    EXPECT_EQ(proto.Configure(&current, 0), 1);
    EXPECT_EQ(current.serialRetries, 3);
    EXPECT_EQ(proto.RetryCount(), 3u);

    config.serialRetries = 12;
    config.radioRetries = 13;
    EXPECT_EQ(proto.Configure(&config, 1), -11);
    config.radioRetries = 0;
    config.traceMode = 4;
    EXPECT_EQ(proto.Configure(&config, 1), -11);
    EXPECT_EQ(config.radioRetries, 0);  // a refusal changes nothing, not even the caller's copy

    config = ProtocolConfig{};
    config.serialRetries = 0;
    config.radioRetries = 0;
    config.traceMode = 3;
    EXPECT_EQ(proto.Configure(&config, 1), 1);
    EXPECT_EQ(config.serialRetries, 3);
    EXPECT_EQ(config.radioRetries, 5);
    EXPECT_EQ(proto.RetryCount(), 3u);
    config.serialRetries = 7;
    EXPECT_EQ(proto.Configure(&config, 1), 1);
    EXPECT_EQ(proto.RetryCount(), 7u);
}

TEST_F(AnswerLogic, TraceHookSeesSentAndReceived)
{
    std::string traced;
    proto_->SetTraceHook([&](const char* text) { traced += std::string("[") + text + "]"; });
    ProtocolConfig config;
    config.traceMode = 3;
    ASSERT_EQ(proto_->Configure(&config, 1), 1);
    line.Expect("get -w\r").Reply("\r5\r>");
    EXPECT_EQ(Command("get -w\r"), 4);
    EXPECT_EQ(traced, "[get -w\r][\r5\r>]");
}
