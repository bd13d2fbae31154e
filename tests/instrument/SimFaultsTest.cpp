// The simulated instruments' identification rows and faults, seen through
// Kelo_protocol.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "InstrumentTestSupport.h"
#include "Kelo_protocol.h"
#include "SimProcess.h"

namespace {

class SimFaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        file_ = TempPath("sim-faults");
        std::remove(file_.c_str());
    }
    void TearDown() override { std::remove(file_.c_str()); }

    // Starts kelosim and connects; the result of QPConnect.
    int32_t Connect(const std::vector<std::string>& args, int32_t retries = 1)
    {
        std::string error;
        sim_.Stop();
        if (!sim_.Start(args, &error)) {
            ADD_FAILURE() << error;
            return -999;
        }
        return kp_.QPConnect(sim_.Path().c_str(), 2, retries, &id_);
    }

    TempLog log_{"simfaults", 30};
    Kelo_protocol kp_{log_.get()};
    DeviceIdentity id_;
    SimProcess sim_;
    std::string file_;
};

}  // namespace

TEST_F(SimFaultsTest, IdentificationRows)
{
    EXPECT_EQ(Connect({"--type", "WN30", "--version", "2.00"}), -120);
    EXPECT_EQ(id_.type, 8);
    kp_.QPDisconnect();
    EXPECT_EQ(Connect({"--type", "NIVRA-TE", "--version", "1.00"}), 1);
    EXPECT_EQ(id_.type, 10);
    EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), result::kNotForThisDevice);
    kp_.QPDisconnect();
    EXPECT_EQ(Connect({"--type", "ZZ9", "--version", "1.00"}), -120);
    EXPECT_EQ(id_.type, 0);
    kp_.QPDisconnect();
    EXPECT_EQ(Connect({"--type", "WN30", "--fault", "version-line=WN30 200"}), -120);
    EXPECT_TRUE(log_.Has("QPConnect this device must not be supported"));
    kp_.QPDisconnect();
}

TEST_F(SimFaultsTest, UninitialisedInstrumentIsNotSaved)
{
    ASSERT_EQ(Connect({"--type", "JV", "--version", "1.00", "--fault", "bare-sn"}), 1);
    EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), -36);
    EXPECT_FALSE(std::ifstream(file_).good());
    kp_.QPDisconnect();
}

TEST_F(SimFaultsTest, UnreadableSettingAndUnconfirmedWrites)
{
    ASSERT_EQ(Connect({"--type", "WN", "--version", "1.00", "--fault", "unreadable=contr", "--fault",
                       "no-ok"}),
              1);
    // The contrast is missing: nothing is saved.
    EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), -35);
    EXPECT_FALSE(std::ifstream(file_).good());
    EXPECT_EQ(kp_.InstrumentSettings().valid, 0xA2u);
    // What was read is still in the record: write it back from there.
    kp_.SetSettingsHeld(true);
    // Writes answered without "OK" are not a restore, even where the
    // instrument happened to store the value: none of them went back.
    EXPECT_EQ(kp_.QPRestoreInfo(file_.c_str(), "WN-NEW"), -35);
    EXPECT_FALSE(kp_.NewSerialNumberWritten());
    EXPECT_EQ(kp_.NotRestoredMask(), 0xA2u);
    EXPECT_STREQ(kp_.NotRestoredNames(), "sn, fvals, units");
    EXPECT_FALSE(log_.Has("SetInstInfo set device serial number"));
    EXPECT_FALSE(log_.Has("QPRestoreInfo successfully restored device setting"));
    EXPECT_TRUE(log_.Has("QPRestoreInfo: these settings did not go back: sn, fvals, units"));
    kp_.QPDisconnect();
}

TEST_F(SimFaultsTest, FirmwareEraseAndClockFaults)
{
    ASSERT_EQ(Connect({"--type", "MERV", "--version", "1.00", "--fault", "corrupt-firmware", "--fault",
                       "dataflash-fail"}),
              1);
    EXPECT_EQ(kp_.QPCheckFirmware(id_.postInit), -1);
    EXPECT_EQ(kp_.QPEraseData(), -65);
    EXPECT_EQ(kp_.QPSetTime(), 1);
    kp_.QPDisconnect();
    sim_.Stop();
    ASSERT_EQ(Connect({"--type", "MERV", "--version", "1.00"}), 1);
    EXPECT_EQ(kp_.QPCheckFirmware(id_.postInit), 1);
    EXPECT_EQ(kp_.QPEraseData(), 1);
    kp_.QPDisconnect();
}

TEST_F(SimFaultsTest, PrivilegedWritesNeedTheLogin)
{
    ASSERT_EQ(Connect({"--type", "R7F"}), 1);
    ASSERT_EQ(kp_.QPSaveInfo(file_.c_str()), 1);
    EXPECT_EQ(kp_.QPRestoreInfo(file_.c_str(), nullptr), 1);
    // After "logout" the same writes are refused.
    char answer[32];
    uint32_t length = sizeof(answer), elapsed = 0;
    EXPECT_GT(kp_.Protocol().DeviceCommand("logout\r", '>', 1000, answer, &length, &elapsed), 0);
    EXPECT_EQ(kp_.SetInstInfo(0xC00), -35);
    EXPECT_EQ(kp_.QPRestoreInfo(file_.c_str(), nullptr), -35);
    EXPECT_STREQ(kp_.NotRestoredNames(), "adccal, config");
    kp_.QPDisconnect();
}

// Answers that come late, cut short or garbled are never taken for values:
// the save gets the instrument's own values or fails before anything is erased.
TEST_F(SimFaultsTest, LateAndGarbledAnswersAreNeverSaved)
{
    const char* const kAdccal = "512 498 1.0032 -0.0041";
    // Late, but within every time-out: read as they are.
    ASSERT_EQ(Connect({"--type", "R7F", "--fault", "slow=300"}, 3), 1);
    EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), 1);
    EXPECT_STREQ(kp_.InstrumentSettings().adccal, kAdccal);
    EXPECT_STREQ(kp_.InstrumentSettings().config, "CH1=ON CH2=OFF AVG=8");
    kp_.QPDisconnect();
    std::remove(file_.c_str());
    // A flipped bit in the framing of every answer: unreadable, nothing saved.
    for (const char* where : {"before", "after", "prompt"}) {
        SCOPED_TRACE(where);
        kp_.ClearSettings();
        ASSERT_EQ(Connect({"--type", "MERV", "--fault", std::string("frame-flip=adccal:") + where}, 3), 1);
        EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), -35);
        EXPECT_FALSE(std::ifstream(file_).good());
        kp_.QPDisconnect();
    }
    // Only in the first answer: the next try reads it.
    kp_.ClearSettings();
    ASSERT_EQ(Connect({"--type", "MERV", "--fault", "frame-flip-once=adccal:after"}, 3), 1);
    EXPECT_EQ(kp_.QPSaveInfo(file_.c_str()), 1);
    EXPECT_STREQ(kp_.InstrumentSettings().adccal, kAdccal);
    kp_.QPDisconnect();
}

TEST_F(SimFaultsTest, WritesThatFailOrStoreSomethingElse)
{
    ASSERT_EQ(Connect({"--type", "JV", "--fault", "set-fail=contr", "--fault", "set-garble=units"}), 1);
    InstrumentInfo& ii = kp_.InstrumentSettings();
    ii.contr = 12;
    ii.units = 3;
    kp_.SetInstInfo(0x90);
    ii.contr = ii.units = -1;
    ASSERT_EQ(kp_.GetInstInfo(0x90), 1);
    EXPECT_EQ(ii.contr, 47);  // nothing stored: still the factory value
    EXPECT_EQ(ii.units, 4);   // stored with its last digit changed
    kp_.QPDisconnect();
}
