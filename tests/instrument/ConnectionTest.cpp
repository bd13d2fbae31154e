#include <gtest/gtest.h>

#include <ctime>

#include "InstrumentTestSupport.h"
#include "Kelo_protocol.h"
#include "PtyPeer.h"
#include "Timing.h"

namespace {

// One try per command keeps the silent cases short.
constexpr int32_t kOneTry = 1;

}  // namespace

TEST(QPConnect, OldVersionIsRefusedNewerConnects)
{
    TempLog log("qpconnect-old");
    Kelo_protocol kp(log.get());
    DeviceIdentity id;
    {
        PtyPeer peer;
        peer.Expect("get -ver\r").Reply("\rQX70 1.02\r>");
        peer.Start();
        EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, 3, &id), -120);
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_TRUE(log.Has("Kelo_protocol: QPConnect this firmware version is not supported"));
        EXPECT_EQ(id.type, 3);
        EXPECT_EQ(id.versionNumber, 102u);
    }
    kp.QPDisconnect();
    {
        PtyPeer peer;
        peer.Expect("get -ver\r").Reply("\rQX70 1.03\r>");
        peer.Start();
        EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, 3, &id), 1);
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_TRUE(log.Has("QPConnect successfully connected to device"));
        EXPECT_EQ(kp.DeviceType(), 3);
        EXPECT_STREQ(kp.Identity().versionText, "QX70 1.03");
        EXPECT_EQ(kp.LoggerSettings().versionNumber, 103);
        EXPECT_EQ(kp.LoggerSettings().newFirmware, 1);
        kp.QPDisconnect();
    }
}

TEST(QPConnect, UnknownDeviceAndTypeOneAreRefused)
{
    for (const char* line : {"\rZZ9 1.00\r>", "\rQX7 2.00\r>"}) {
        TempLog log("qpconnect-unknown");
        Kelo_protocol kp(log.get());
        DeviceIdentity id;
        PtyPeer peer;
        peer.Expect("get -ver\r").Reply(line);
        peer.Start();
        EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, 3, &id), -120) << line;
        EXPECT_EQ(peer.Finish(), "");
        kp.QPDisconnect();
        if (id.type == 0) {
            EXPECT_STREQ(id.displayName, "UNKNOWN");
            EXPECT_TRUE(log.Has("QPConnect this device must not be supported"));
        } else {
            EXPECT_TRUE(log.Has("QPConnect this firmware version is not supported"));
        }
    }
}

TEST(QPConnect, BootloaderAnswering)
{
    TempLog log("qpconnect-bsl");
    Kelo_protocol kp(log.get());
    DeviceIdentity id;
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("+");
    peer.Start();
    EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, &id), -80);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(id.type, 0);
    EXPECT_TRUE(log.Has("QPConnect found the KeloBSL listening (-80)"));
}

TEST(QPConnect, NothingOnThePort)
{
    TempLog log("qpconnect-silent");
    Kelo_protocol kp(log.get());
    DeviceIdentity id;
    PtyPeer peer;
    peer.Silence(2500);
    peer.Start();
    EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, &id), -20);
    EXPECT_TRUE(log.Has("QPConnect couldn't connect."));
    EXPECT_EQ(kp.QPConnect("", 2, kOneTry, &id), -10);
    EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, nullptr), -10);
}

TEST(QPConnect, PrivilegedLogin)
{
    TempLog log("qpconnect-login");
    Kelo_protocol kp(log.get());
    DeviceIdentity id;
    {
        PtyPeer peer;
        peer.Expect("get -ver\r").Reply("\rr7f 3.51\r>");
        peer.Expect("login *4827\r").Reply("\rOK\r>");
        peer.Expect("logout\r").Reply("\rOK\r>");
        peer.Start();
        EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, &id), 1);
        EXPECT_EQ(id.type, 12);
        EXPECT_TRUE(id.supported);
        EXPECT_EQ(kp.QPDisconnect(), 1);
        EXPECT_EQ(peer.Finish(), "");
    }
    {
        // The login hears nothing: -25, and the connection is still reported.
        PtyPeer peer;
        peer.Expect("get -ver\r").Reply("\rTELSO 1.20\r>");
        peer.Expect("login *4827\r").Silence(1300);
        peer.Start();
        EXPECT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, &id), -25);
        EXPECT_TRUE(log.Has("QPConnect successfully connected to device"));
        EXPECT_EQ(peer.Finish(), "");
    }
}

TEST(QPChecks, BatteryFirmwareErase)
{
    TempLog log("qpchecks");
    Kelo_protocol kp(log.get());
    PtyPeer peer;
    ASSERT_EQ(kp.Protocol().Port().KSOpen(peer.SlavePath(), 9600), 1);
    kp.Protocol().SetRetryCount(1);
    peer.Expect("get -batt\r").Reply("\r87\r>");
    peer.Expect("get -batt\r").Reply("\rlow\r>");
    peer.Expect("get -batt\r").Reply("\r-1\r>");
    peer.Expect("get -batt\r").Reply("\r101\r>");
    peer.Expect("post -init\r").Reply("\rCode Good!\r>");
    peer.Expect("post\r").Reply("\rCode Corrupt!\r>");
    peer.Expect("post\r").Reply("\rhmm\r>");
    peer.Expect("yes\r").Reply("\rOK\r>");
    peer.Expect("yes\r").Reply("\rDataFlash FAIL\r>");
    peer.Start();

    int32_t percent = 0;
    EXPECT_EQ(kp.QPCheckBattery(&percent), 1);
    EXPECT_EQ(percent, 87);
    EXPECT_TRUE(log.Has("QPCheckBattery: 87% battery ("));
    // A level that cannot be read or is no percentage stops the update.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kp.QPCheckBattery(&percent), Kelo_protocol::kBatteryUnknown);
        EXPECT_EQ(percent, -1);
    }
    EXPECT_EQ(kp.QPCheckBattery(nullptr), -10);

    EXPECT_EQ(kp.QPCheckFirmware(true), 1);
    EXPECT_EQ(kp.QPCheckFirmware(false), -1);
    EXPECT_EQ(kp.QPCheckFirmware(false), -30);

    kp.SetDeviceType(12);
    EXPECT_EQ(kp.QPEraseData(), result::kNotForThisDevice);  // sends nothing: the next "yes" is the JV's
    kp.SetDeviceType(7);
    EXPECT_EQ(kp.QPEraseData(), 1);
    EXPECT_EQ(kp.QPEraseData(), -65);
    EXPECT_TRUE(log.Has("QPEraseData failed due to a broken DataFlash ("));
    EXPECT_EQ(peer.Finish(), "");
}

namespace {
std::time_t TenSecondsPast2000() { return 946684800 + 10 - LocalTimeOffset(); }
}  // namespace

TEST(QPSetTime, MoistraGetsSecondsSince2000)
{
    TempLog log("qpsettime");
    Kelo_protocol kp(log.get());
    kp.SetClockForTesting(&TenSecondsPast2000);
    DeviceIdentity id;
    PtyPeer peer;
    peer.Expect("get -ver\r").Reply("\rMERV 1.00\r>");
    peer.Expect("set -sec 10\r").Reply("\rOK\r>");
    peer.Expect("set -sec 10\r").Reply("\rhuh\r>");
    peer.Start();
    ASSERT_EQ(kp.QPConnect(peer.SlavePath(), 2, kOneTry, &id), 1);
    EXPECT_EQ(kp.QPSetTime(), 1);
    EXPECT_TRUE(log.Has("QPSetTime set the time to: 10"));
    // An answer without the confirmation is not taken for success.
    EXPECT_EQ(kp.QPSetTime(), -30);
    EXPECT_EQ(peer.Finish(), "");
    kp.QPDisconnect();

    Kelo_protocol lite(nullptr);  // no clock on this type (identity not connected)
    EXPECT_EQ(lite.QPSetTime(), result::kNotForThisDevice);
}
