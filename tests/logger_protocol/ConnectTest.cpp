#include <cstring>
#include <ctime>

#include "LoggerFixture.h"
#include "TestPlatform.h"
#include "Timing.h"

namespace {

class Connection : public LoggerFixture {
protected:
    ConnectParams RadioParams(PtyPeer& peer, const char* name)
    {
        ConnectParams params = SerialParams(peer);
        params.linkType = kLinkRadio;
        std::snprintf(params.loginName, sizeof params.loginName, "%s", name);
        return params;
    }
};

}  // namespace

TEST_F(Connection, BootloaderAnswersEndIdentification)
{
    {
        PtyPeer peer;
        EXPECT_EQ(ConnectSerial(peer, "+"), -80);
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_FALSE(port_->IsOpen());  // a failed connection closes the port
    }
    PtyPeer peer;
    EXPECT_EQ(ConnectSerial(peer, "$"), -81);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "get -ver\r");
}

TEST_F(Connection, ThreeBareAnswersAreUnreadable)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply(">").Expect("get -ver\r").Reply(">");
    EXPECT_EQ(ConnectSerial(peer, ">"), -30);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "get -ver\rget -ver\rget -ver\r");
    EXPECT_TRUE(Logged("VerCommand failed with error -30"));
}

TEST_F(Connection, IdentifiesModelVersionAndFeatures)
{
    PtyPeer peer;
    ASSERT_EQ(ConnectSerial(peer, "\rqx70 1.1\r>"), 1);
    const LoggerInfo& info = proto_->Info();
    EXPECT_EQ(info.model, kModelQx70);
    EXPECT_STREQ(info.modelName, "Qx70");
    EXPECT_STREQ(info.version, "qx70 1.1");
    EXPECT_EQ(info.versionNumber, 110);  // a missing patch digit counts as 0
    EXPECT_EQ(info.features, 0x7337u | 0x440u | 0x80u);
    EXPECT_TRUE(Logged("VerCommand found \"qx70 1.1\" ver 110"));
    EXPECT_TRUE(Logged("DeviceLogin communicating with a device running qx70 1.1 at 9600 baud"));
}

TEST_F(Connection, SetBaudToNineSixHundredHearingNothingSucceeds)
{
    SetRetries(1, 1);
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("set -baud 0\r").Silence(1300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    EXPECT_EQ(proto_->SetBaudCommand(9600), 1);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Connection, RaisesLineRateWhenAsked)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>").Expect("set -baud 4\r").Reply("\rOK");
    ConnectParams params = SerialParams(peer);
    params.baudIndex = 6;
    peer.Start();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_EQ(params.baudIndex, 6);
    EXPECT_EQ(port_->Baud(), 115200u);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Connection, EchoDuringQueryOrLoginMeansRelay)
{
    SetRetries(2, 2);
    {
        PtyPeer peer;
        peer.Expect("\rquery\r").Reply("\rquery\r");
        EXPECT_EQ(Connect(peer, RadioParams(peer, "")), -33);
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_TRUE(Logged("QueryCommand is hearing \"query\" -- a relay must be active"));
    }
    PtyPeer peer;
    peer.Expect("login LOG1\r").Reply("login LOG1\r>");
    EXPECT_EQ(Connect(peer, RadioParams(peer, "LOG1")), -33);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_TRUE(Logged("DeviceLogin thinks a relay must be active"));
}

TEST_F(Connection, QueryFindsNameAndBarePromptLoginSucceeds)
{
    PtyPeer peer;
    peer.Expect("\rquery\r").Reply("FIELD01\r").Expect("login FIELD01\r").Reply("\r\r>");
    ConnectParams params = RadioParams(peer, "");
    peer.Start();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_STREQ(params.loginName, "FIELD01");
    EXPECT_STREQ(proto_->Info().name, "FIELD01");
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_TRUE(Logged("QueryCommand heard from: FIELD01"));
}

TEST_F(Connection, LoginNameTooLong)
{
    EXPECT_EQ(proto_->LoginCommand("NINECHARS"), -54);
    EXPECT_TRUE(Logged("LoginCommand: Device name NINECHARS is wrong length (9 characters)"));
}

TEST_F(Connection, EraseRefusesRenamedLogger)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -i\r").Reply("\rLOGA\r>").Expect("get -i\r").Reply("\rLOGB\r>").Silence(300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    uint32_t mask = logger_mask::kName;
    ASSERT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(proto_->EraseData(), -37);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "get -ver\rget -i\rget -i\r");  // no "yes"
    EXPECT_TRUE(Logged("EraseData: Identity mismatch. Class: LOGA, Device: LOGB"));
}

TEST_F(Connection, EraseReportsBrokenDataFlash)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -i\r").Reply("\rLOGA\r>").Expect("get -i\r").Reply("\rLOGA\r>");
    peer.Expect("yes\r").Reply("\rDataFlash FAIL\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    uint32_t mask = logger_mask::kName;
    ASSERT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(proto_->EraseData(), -65);
    EXPECT_TRUE(Logged("EraseData failed due to a broken DataFlash"));
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Connection, ClockFromPcAndReadWithoutLabel)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.ExpectUntil('\r').Reply("\rOK\r>").ExpectUntil('\r').Reply("\rOK\r>");
    peer.Expect("get -t\r").Reply("\r2024-02-03 04:05:06\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);

    int64_t when = 0;
    std::time_t before = std::time(nullptr);
    EXPECT_EQ(proto_->DeviceTime(&when, 1), 1);
    int64_t expected = static_cast<int64_t>(before) + LocalTimeOffset() - 946684800;
    EXPECT_NEAR(static_cast<double>(when), static_cast<double>(expected), 2.0);
    // The commands carry the local wall clock of the same moment.
    std::tm local = UtcFields(static_cast<std::time_t>(when + 946684800));
    char time[64], date[64];
    std::snprintf(time, sizeof time, "set -t %d:%d:%d\r", local.tm_hour, local.tm_min, local.tm_sec);
    std::snprintf(date, sizeof date, "set -d %d-%d-%d\r", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    std::string sent = peer.Received();
    EXPECT_NE(sent.find(time), std::string::npos) << sent;
    EXPECT_NE(sent.find(date), std::string::npos) << sent;

    int64_t read = 0;
    EXPECT_EQ(proto_->DeviceTime(&read, 0), 1);
    std::tm fields{};
    fields.tm_year = 124;
    fields.tm_mon = 1;
    fields.tm_mday = 3;
    fields.tm_hour = 4;
    fields.tm_min = 5;
    fields.tm_sec = 6;
    EXPECT_EQ(read, static_cast<int64_t>(FromUtcFields(&fields)) - 946684800);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Connection, DisconnectReturnsToNineSixHundredAndCloses)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>").Expect("set -baud 1\r").Reply("\rOK");
    peer.Expect("set -baud 0\r").Reply("\rOK");
    ConnectParams params = SerialParams(peer);
    params.baudIndex = 3;
    peer.Start();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_EQ(port_->Baud(), 19200u);
    EXPECT_EQ(proto_->DisconnectDevice(), 1);
    EXPECT_FALSE(port_->IsOpen());
    EXPECT_EQ(proto_->Connection().linkType, 0);
    EXPECT_EQ(proto_->DisconnectDevice(), 0);
    EXPECT_EQ(peer.Finish(), "");
}
