// The logger protocol against the simulated loggers and radio modem.
#include <cstring>
#include <ctime>

#include "SimLoggerFixture.h"
#include "Timing.h"

namespace m = logger_mask;


TEST_F(SimLoggers, Qx70RoundTrip)
{
    StartSim({"--type", "QX70", "--version", "1.15"});
    RoundTrip(0x2001E7F, 0x2001E7F, true);
    // What was written back is what is read now.
    ConnectParams params = Params();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    LoggerInfo info;
    uint32_t mask = 0x2001E7F;
    ASSERT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(info.ports[1], 2);
    EXPECT_EQ(info.slope[0], 130);
    EXPECT_EQ(info.offset[4], 10);
    EXPECT_EQ(info.rch, 3);
    EXPECT_EQ(info.rsch, 0x1234);
    EXPECT_STREQ(info.rver, "1043");
    EXPECT_EQ(info.traits, 0x4001);
}

TEST_F(SimLoggers, Qx7bRoundTrip)
{
    StartSim({"--type", "QX7B", "--version", "1.02"});
    RoundTrip(0x77, 0x77, true);
}

TEST_F(SimLoggers, HubTerminalRoundTrip)
{
    StartSim({"--type", "KS", "--version", "1.10"});
    RoundTrip(0xD07, 0xD07 | m::kTrait, false);  // radio bits bring the traits word
}

TEST_F(SimLoggers, LinkCenterRoundTrip)
{
    StartSim({"--type", "LC", "--version", "1.00"});
    RoundTrip(0x7, 0x7, true);
}

TEST_F(SimLoggers, OldQx7ThroughShowAndItsOwnModem)
{
    StartSim({"--type", "QX7", "--version", "1.65"});
    ConnectParams params = Params();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_EQ(proto_->Info().newFirmware, 0);
    LoggerInfo info;
    uint32_t mask = m::kName | m::kWake | m::kPadc | m::kRmode;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(mask, 0x215u | m::kPadc);
    EXPECT_STREQ(info.name, "FIELD01");
    EXPECT_EQ(info.versionNumber, 165);
    EXPECT_EQ(info.padc, 1000);
    int32_t rch = 0, rsch = 0;
    char rver[9] = {};
    uint32_t radio = m::kRadio;
    EXPECT_EQ(proto_->MSRadioCommand(&rch, &rsch, rver, 0, &radio), 1);
    EXPECT_EQ(radio, m::kRadio);
    EXPECT_EQ(rch, 3);
    EXPECT_STREQ(rver, "1043");
    int64_t read = 0;
    EXPECT_EQ(proto_->DeviceTime(&read, 0), 1);
    EXPECT_EQ(proto_->EraseData(), 1);
}

TEST_F(SimLoggers, LineRateChangeAndMismatch)
{
    StartSim({"--type", "QX70", "--version", "1.15"});
    ConnectParams params = Params();
    params.baudIndex = 6;
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_EQ(port_->Baud(), 115200u);
    char name[9] = {};
    EXPECT_EQ(proto_->NameCommand(name, 0), 1);
    EXPECT_EQ(proto_->DisconnectDevice(), 1);  // takes the logger back to 9600
    params.baudIndex = 2;
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    // The logger alone changes its rate: the host at 9600 is not understood.
    proto_->SetRetryCount(1);
    uint32_t none = 0;
    EXPECT_GT(proto_->DeviceCommand("set -baud 1\r", 'K', 1000, nullptr, &none, nullptr), 0);
    EXPECT_EQ(proto_->NameCommand(name, 0), -21);
}

TEST_F(SimLoggers, FaultsUnnamedNoRadioDataFlashRefused)
{
    StartSim({"--type", "QX70", "--version", "1.15", "--fault", "unnamed", "--fault", "no-radio",
              "--fault", "dataflash-fail", "--fault", "refuse=set -w"});
    ConnectParams params = Params();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    LoggerInfo info;
    uint32_t mask = m::kRadio | m::kWake;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -35);
    EXPECT_EQ(mask, m::kVer | m::kTrait | m::kWake);
    uint32_t wake = 5;
    EXPECT_EQ(proto_->WakeCommand(&wake, 1), -34);
    mask = m::kName;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), -36);
    char name[9] = "NEWNAME";
    EXPECT_EQ(proto_->NameCommand(name, 1), 1);
    mask = m::kName;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(proto_->EraseData(), -65);
}

TEST_F(SimLoggers, SilentAfterTwoCommands)
{
    SetRetries(1, 1);
    StartSim({"--type", "QX70", "--version", "1.15", "--fault", "silent-after=2"});
    ConnectParams params = Params();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    char name[9] = {};
    EXPECT_EQ(proto_->NameCommand(name, 0), 1);
    EXPECT_EQ(proto_->NameCommand(name, 0), -21);
}

TEST_F(SimLoggers, RadioLinkQueryLoginSettingsAndLogout)
{
    SetRetries(3, 2);
    StartSim({"--type", "QX70", "--version", "1.15", "--radio", "--fault", "awake"});
    ConnectParams params = Params(kLinkRadio);
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_STREQ(params.loginName, "FIELD01");
    LoggerInfo info;
    uint32_t mask = m::kName | m::kWake | m::kRadio;
    EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
    EXPECT_EQ(mask, m::kName | m::kWake | m::kVer | m::kTrait | m::kRch | m::kRsch);
    EXPECT_EQ(info.rch, 1);  // the PC's modem was asked
    EXPECT_EQ(proto_->DisconnectDevice(), 1);
    EXPECT_FALSE(port_->IsOpen());
}

TEST_F(SimLoggers, RadioRelayEchoIsReported)
{
    SetRetries(2, 2);
    StartSim({"--type", "QX70", "--version", "1.15", "--radio", "--fault", "awake", "--fault",
              "relay-echo"});
    ConnectParams params = Params(kLinkRadio);
    EXPECT_EQ(proto_->ConnectDevice(&params), -33);
}

TEST_F(SimLoggers, RadioKnownChannelConfiguresModemFirst)
{
    SetRetries(2, 2);
    StartSim({"--type", "QX70", "--version", "1.15", "--radio", "--fault", "awake"});
    ConnectParams params = Params(kLinkRadio);
    std::strcpy(params.loginName, "FIELD01");
    params.radioKnown = 1;
    params.rch = 2;
    params.rsch = 0x55;
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_TRUE(Logged("Tz9Config set rch to 2"));
    EXPECT_TRUE(Logged("Tz9Config saved configuration"));
    int32_t rch = 0, rsch = 0;
    uint32_t mask = m::kRch | m::kRsch;
    EXPECT_EQ(proto_->Tz9Config(&rch, &rsch, nullptr, 0, &mask), 1);
    EXPECT_EQ(rch, 2);
    EXPECT_EQ(rsch, 0x55);
}
