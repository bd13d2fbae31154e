#include <cstring>

#include "LoggerFixture.h"
#include "Timing.h"

namespace m = logger_mask;

namespace {

class Settings : public LoggerFixture {
protected:
    // Everything the host sent after the connection's own version exchange.
    static std::string AfterConnect(PtyPeer& peer)
    {
        std::string all = peer.Received();
        return all.substr(std::strlen("get -ver\r"));
    }
};

}  // namespace

TEST_F(Settings, PortsAreClampedAndNeedAllFive)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -ports\r").Reply("\r1 300 3 -1 5\r>");
    peer.Expect("get -ports\r").Reply("\r1 2 3 4\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    uint8_t ports[5] = {};
    EXPECT_EQ(proto_->PortsCommand(ports, 0), 1);
    EXPECT_EQ(ports[0], 1);
    EXPECT_EQ(ports[1], 255);
    EXPECT_EQ(ports[3], 255);  // negative values compare as large unsigned ones
    EXPECT_EQ(proto_->PortsCommand(ports, 0), -30);
    EXPECT_TRUE(Logged("PortsCommand only found 4 of 5 ports ("));
    EXPECT_TRUE(Logged("PortsCommand failed with error -30 ("));
    EXPECT_EQ(peer.Finish(), "");
}

// A flipped bit in an answer's framing leaves a control character or the
// prompt where the value is; a value with more fields than the setting has is
// not one of its values either. None of them is believed.
TEST_F(Settings, GarbledOrOverlongValuesAreUnreadable)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -sn\r").Reply("\rSN12345\x05>");
    peer.Expect("get -i\r").Reply("\x05LOGA\r>");
    peer.Expect("get -w\r").Reply("\r60>");
    peer.Expect("get -w\r").Reply("\r60 s\r>");
    peer.Expect("get -ports\r").Reply("\r1 2 3 4 5 6\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    char sn[kLoggerSnSize] = "kept";
    char name[kLoggerNameSize] = "kept";
    uint32_t wake = 7;
    uint8_t ports[5] = {};
    EXPECT_EQ(proto_->SNCommand(sn, 0), -30);
    EXPECT_EQ(proto_->NameCommand(name, 0), -30);
    EXPECT_EQ(proto_->WakeCommand(&wake, 0), -30);
    EXPECT_EQ(proto_->WakeCommand(&wake, 0), -30);
    EXPECT_EQ(proto_->PortsCommand(ports, 0), -30);
    EXPECT_STREQ(sn, "kept");
    EXPECT_STREQ(name, "kept");
    EXPECT_EQ(wake, 7u);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Settings, AdcCalSendsPairsAndCheckValue)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("set -adccal 1 6 2 7 3 8 4 9 5 10 55\r").Reply("\rOK\r>");
    peer.Expect("get -adccal\r").Reply("\r9 8 7 6 5 4 3 2 1 999 0\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    uint8_t slope[5] = {1, 2, 3, 4, 5}, offset[5] = {6, 7, 8, 9, 10};
    EXPECT_EQ(proto_->ADCcalCommand(slope, offset, 1), 1);
    EXPECT_EQ(proto_->ADCcalCommand(slope, offset, 0), 1);
    EXPECT_EQ(slope[0], 9);
    EXPECT_EQ(offset[0], 8);
    EXPECT_EQ(offset[4], 255);
    EXPECT_EQ(proto_->ADCcalCommand(nullptr, offset, 0), -10);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Settings, MissingFeatureZeroesPortsAndGivesPartialResult)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("LC 1.00\r\n>");  // features without wake, PADC and ports
    peer.Expect("get -i\r").Reply("\rLOGA\r>");
    peer.Expect("get -sn\r").Reply("\rSN12345\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    std::memset(info.ports, 7, sizeof info.ports);
    uint32_t mask = 0x77;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -35);
    EXPECT_EQ(mask, m::kName | m::kSn | m::kVer);
    EXPECT_STREQ(info.name, "LOGA");
    EXPECT_STREQ(info.sn, "SN12345");
    EXPECT_EQ(info.ports[0], 0);
    EXPECT_EQ(info.ports[4], 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Settings, UnnamedLoggerEndsCollection)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -i\r").Reply("\r\r>");
    peer.Silence(300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    uint32_t mask = m::kName | m::kSn | m::kWake;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -36);
    EXPECT_EQ(mask, m::kVer);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(AfterConnect(peer), "get -i\r");
}

TEST_F(Settings, TraitsSayingNoRadioSkipRadioCommands)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -trait\r").Reply("\r255\r>");
    peer.Silence(300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    uint32_t mask = m::kRadio;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -35);
    EXPECT_EQ(mask, m::kVer | m::kTrait);
    EXPECT_EQ(info.traits, 0x4000);
    EXPECT_EQ(proto_->HasRadio(), 0);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(AfterConnect(peer), "get -trait\r");
}

TEST_F(Settings, OldFirmwareServesNameWakeRmodeFromOneShow)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("\r?\r>").Expect("get -ver\r").Reply("\r?\r>");
    peer.Expect("get -ver\r").Reply("\r?\r>");
    peer.Expect("show\r").Reply("\rID: OLDONE\rVersion: 1.65\rRadio: 2\rWake: 60\rResets: 3\r>");
    peer.Silence(300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    EXPECT_EQ(proto_->Info().model, kModelQx7);
    EXPECT_EQ(proto_->Info().newFirmware, 0);
    LoggerInfo info;
    uint32_t mask = m::kName | m::kSn | m::kWake | m::kRmode;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(mask, 0x215u);  // sn is not obtained
    EXPECT_STREQ(info.name, "OLDONE");
    EXPECT_STREQ(info.version, "1.65");
    EXPECT_EQ(info.versionNumber, 165);
    EXPECT_EQ(info.wake, 60u);
    EXPECT_EQ(info.rmode, 2u);
    EXPECT_EQ(proto_->Resets(), 3);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "get -ver\rget -ver\rget -ver\rshow\r");
}

TEST_F(Settings, SilentLoggerIsReconnectedOnCable)
{
    SetRetries(1, 1);
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -w\r");  // silence: the host waits its time-out
    peer.Expect("get -ver\r", 3000).Reply("QX70 1.15\r\n>");
    peer.Expect("get -w\r").Reply("\r60\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info;
    uint32_t mask = m::kWake;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(mask, m::kWake | m::kVer);
    EXPECT_EQ(info.wake, 60u);
    EXPECT_TRUE(Logged("******: DeviceSettings re-connected to device"));
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Settings, SilentLoggerOverRadioEndsAtOnce)
{
    SetRetries(1, 1);
    PtyPeer peer;
    peer.Expect("login LOG1\r").Reply("\r>");
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -w\r");
    peer.Silence(1500);
    ConnectParams params = SerialParams(peer);
    params.linkType = kLinkRadio;
    std::strcpy(params.loginName, "LOG1");
    ASSERT_EQ(Connect(peer, params), 1);
    EXPECT_STREQ(proto_->Info().name, "LOG1");
    LoggerInfo info;
    uint32_t mask = m::kWake;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -21);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "login LOG1\rget -ver\rget -w\r");  // no re-connect
}

TEST_F(Settings, RadioReadingsNoRadioBadChannelAndZeroVersion)
{
    SetRetries(2, 2);
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("get -rver\r").Reply("\rNo Radio\r>");
    peer.Expect("get -rch\r").Reply("\rOK\r7\r>").Expect("get -rch\r").Reply("\rOK\r7\r>");
    peer.Expect("get -rver\r").Reply("\rOK\r0012\r>");
    peer.Expect("get -rver\r").Reply("\rOK\r1A2b\r>").Expect("get -rsch\r").Reply("\rOK\rFFFF\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    int32_t rch = -1, rsch = -1;
    char rver[9] = "xx";

    uint32_t mask = m::kRadio;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, rver, 0, &mask), -45);
    EXPECT_EQ(mask, 0u);
    EXPECT_TRUE(Logged("MSRadioCommand couldn't find a radio ("));

    mask = m::kRch;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, rver, 0, &mask), 1);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(rch, -1);
    EXPECT_FALSE(Logged("MSRadioCommand could not find rch"));

    mask = m::kRver;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, rver, 0, &mask), -45);
    EXPECT_STREQ(rver, "");

    mask = m::kRver | m::kRsch;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, rver, 0, &mask), 1);
    EXPECT_EQ(mask, m::kRver | m::kRsch);
    EXPECT_STREQ(rver, "1A2b");
    EXPECT_EQ(rsch, 0xFFFF);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Settings, Qx7NeedsBothConfirmationsForChannel)
{
    SetRetries(2, 2);
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX7 1.20\r\n>");
    peer.Expect("set -rch A\r").Reply("\rOK\r>");
    peer.Expect("set -rch A\r").Reply("\rOK\r\rOK\r>");
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    int32_t rch = 10, rsch = 0;
    uint32_t mask = m::kRch;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, nullptr, 1, &mask), 1);
    EXPECT_EQ(mask, m::kRch);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "get -ver\rset -rch A\rset -rch A\r");
}

TEST_F(Settings, WriteBackInFixedOrderAndEmptyMaskSendsNothing)
{
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("QX70 1.15\r\n>");
    peer.Expect("set -i LOGA\r").Reply("\rOK\r>");
    peer.Expect("set -w 60\r").Reply("\rOK\r>");
    peer.Expect("set -padc 100\r").Reply("\rOK\r>");
    peer.Expect("set -r 2\r").Reply("\rOK\r>");
    peer.Silence(300);
    ASSERT_EQ(Connect(peer, SerialParams(peer)), 1);
    LoggerInfo info = proto_->Info();
    std::strcpy(info.name, "LOGA");
    info.wake = 60;
    info.padc = 100;
    info.rmode = 2;
    uint32_t mask = 0;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 1), 1);
    EXPECT_EQ(mask, 0u);
    mask = m::kRmode | m::kPadc | m::kWake | m::kName | m::kTrait | m::kVer;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 1), 1);
    EXPECT_EQ(mask, m::kRmode | m::kPadc | m::kWake | m::kName);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(AfterConnect(peer), "set -i LOGA\rset -w 60\rset -padc 100\rset -r 2\r");
}
