#include <gtest/gtest.h>

#include <cstring>

#include "DeviceTypes.h"
#include "Kelo_protocol.h"

namespace {

DeviceIdentity Identify(const char* line, int32_t* result)
{
    DeviceIdentity id;
    *result = Kelo_protocol::IdentifyDevice(line, &id);
    return id;
}

}  // namespace

TEST(IdentifyDevice, SupportedVersionsFollowTheTable)
{
    int32_t r = 0;
    DeviceIdentity id = Identify("QX70 1.02", &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(id.type, 3);
    EXPECT_EQ(id.versionNumber, 102u);
    EXPECT_FALSE(id.supported);
    EXPECT_TRUE(Identify("QX70 1.03", &r).supported);

    id = Identify("r7f 3.51", &r);  // the word is compared upper-cased
    EXPECT_EQ(r, 1);
    EXPECT_EQ(id.type, 12);
    EXPECT_EQ(id.versionNumber, 351u);
    EXPECT_TRUE(id.supported);
    EXPECT_STREQ(id.displayName, "Hydrova Series 3");
    EXPECT_STREQ(id.versionText, "r7f 3.51");
    EXPECT_FALSE(Identify("R7F 3.50", &r).supported);

    EXPECT_FALSE(Identify("TELSO 1.17", &r).supported);
    EXPECT_TRUE(Identify("TELSO 1.18", &r).supported);
    EXPECT_FALSE(Identify("QX7 9.99", &r).supported);  // never updated
    EXPECT_EQ(Identify("QX7 9.99", &r).type, 1);
    EXPECT_TRUE(Identify("JV 0.01", &r).supported);
    EXPECT_FALSE(Identify("WN30 2.00", &r).supported);
    // WN must not be taken for WN30 or the other way round.
    EXPECT_EQ(Identify("WN 1.00", &r).type, 9);
    EXPECT_EQ(Identify("wn30 1.00", &r).type, 8);
}

TEST(IdentifyDevice, MissingPatchDigitCountsAsZero)
{
    int32_t r = 0;
    DeviceIdentity id = Identify("QX7B 2.1", &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(id.type, 2);
    EXPECT_EQ(id.versionNumber, 210u);
}

TEST(IdentifyDevice, UnknownOrUndottedLinesAreTypeZero)
{
    for (const char* line : {"R7F 351", "ZZ9 1.00", "1.00", "R7F x.51"}) {
        int32_t r = 0;
        DeviceIdentity id = Identify(line, &r);
        EXPECT_EQ(r, -30) << line;
        EXPECT_EQ(id.type, 0) << line;
        EXPECT_FALSE(id.supported) << line;
        EXPECT_STREQ(id.versionText, line);
    }
    int32_t r = 0;
    EXPECT_STREQ(Identify("ZZ9 1.00", &r).displayName, "UNKNOWN");
    EXPECT_STREQ(Identify("R7F 351", &r).displayName, "UNKNOWN");
}

TEST(IdentifyDevice, NegativeOrAbsurdMajorsAreNeverSupported)
{
    // Majors that would overflow major * 100, or wrap to a huge unsigned
    // version that passes every "above" rule.
    for (const char* line : {"R7F -1.00", "JV -0.01", "R7F 21474837.00", "R7F 99999999999.99", "MERV 10000.00"}) {
        int32_t r = 0;
        DeviceIdentity id = Identify(line, &r);
        EXPECT_LT(r, 0) << line;
        EXPECT_FALSE(id.supported) << line;
        EXPECT_EQ(id.versionNumber, 0u) << line;
    }
    int32_t r = 0;
    EXPECT_EQ(Identify("R7F 9999.99", &r).versionNumber, 999999u);
    EXPECT_EQ(r, 1);
}

TEST(IdentifyDevice, MissingArguments)
{
    DeviceIdentity id;
    EXPECT_EQ(Kelo_protocol::IdentifyDevice(nullptr, &id), -10);
    EXPECT_EQ(Kelo_protocol::IdentifyDevice("", &id), -10);
    EXPECT_EQ(Kelo_protocol::IdentifyDevice("R7F 3.51", nullptr), -10);
}

TEST(IdentifyDevice, FlagsComeFromTheRow)
{
    int32_t r = 0;
    DeviceIdentity lite = Identify("TELSO 2.00", &r);
    EXPECT_TRUE(lite.privilegedLogin);
    EXPECT_TRUE(lite.saveSettings);
    EXPECT_FALSE(lite.eraseData);
    EXPECT_FALSE(lite.checkBattery);
    EXPECT_EQ(lite.restartWaitMs, 8500u);

    DeviceIdentity qx70 = Identify("QX70 1.20", &r);
    EXPECT_TRUE(qx70.postInit);
    EXPECT_TRUE(qx70.setTime);
    EXPECT_TRUE(qx70.eraseData);
    EXPECT_FALSE(qx70.privilegedLogin);

    DeviceIdentity merv = Identify("MERV 1.00", &r);
    EXPECT_TRUE(merv.setTime);
    EXPECT_FALSE(merv.checkBattery);
    EXPECT_EQ(merv.restartWaitMs, 2000u);
}

TEST(DeviceTypes, NamesByTypeNumber)
{
    EXPECT_STREQ(DeviceTypeName(4), "HubTerminal");
    EXPECT_STREQ(DeviceTypeName(8), "Lumetra WN-30");
    EXPECT_STREQ(DeviceTypeName(13), "UNKNOWN");
    EXPECT_STREQ(DeviceTypeName(-1), "UNKNOWN");
    EXPECT_STREQ(DeviceTypeModelWord(12), "R7F");
    EXPECT_TRUE(DeviceTypeInfo(7).storedDataWarning);
    EXPECT_FALSE(DeviceTypeInfo(12).storedDataWarning);
    EXPECT_EQ(DeviceTypeFromWord("END"), 0);
    EXPECT_EQ(DeviceTypeFromWord("UNKNOWN"), 0);
}
