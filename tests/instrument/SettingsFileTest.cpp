#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Kelo_protocol.h"

namespace {

#ifndef _WIN32
// A character device of the test's own: the far end of a new pseudo-terminal.
std::string OwnDevice(int* master)
{
    *master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0)
        return "";
    return ::ptsname(*master);
}
#endif

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = std::string(::testing::TempDir()) + "settings" + std::to_string(::getpid()) + ".txt";
        std::remove(path_.c_str());
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::string FileText() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void WriteText(const std::string& text) const
    {
        std::ofstream out(path_, std::ios::binary);
        out << text;
    }

    static void FillQx70(LoggerInfo* li)
    {
        std::strcpy(li->modelName, "Qx70");
        std::strcpy(li->name, "SITE7");
        std::strcpy(li->sn, "QX70-00042");
        li->wake = 900;
        li->padc = 60;
        for (int i = 0; i < 5; ++i) {
            li->ports[i] = static_cast<uint8_t>(10 + i);
            li->slope[i] = static_cast<uint8_t>(100 + i);
            li->offset[i] = static_cast<uint8_t>(200 + i);
        }
        li->rmode = 3;
        li->rch = 12;
        li->rsch = -4;
        li->data = 77;
    }

    std::string path_;
};

const char kHeader[] = "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n";

}  // namespace

TEST_F(SettingsFileTest, LoggerFileIsByteExact)
{
    Kelo_protocol kp(nullptr);
    kp.SetDeviceType(3);
    FillQx70(&kp.LoggerSettings());
    ASSERT_EQ(kp.WriteInfoFile(path_.c_str()), 1);
    std::string expected = std::string(kHeader) +
                           "type=\"Qx70\"\r\nname=\"SITE7\"\r\nsn=\"QX70-00042\"\r\nwake=\"900\"\r\npadc=\"60\"\r\n";
    for (int port = 1; port <= 5; ++port) {
        expected += "Port number=\"" + std::to_string(port) + "\" value=\"" + std::to_string(9 + port) + "\"\r\n";
        expected += "Port number=\"" + std::to_string(port) + "\" slope=\"" + std::to_string(99 + port) + "\"\r\n";
        expected += "Port number=\"" + std::to_string(port) + "\" offset=\"" + std::to_string(199 + port) + "\"\r\n";
    }
    expected += "rmode=\"3\"\r\nrch=\"12\"\r\nrsch=\"-4\"\r\ndata=\"77\"\r\n";
    EXPECT_EQ(FileText(), expected);
}

TEST_F(SettingsFileTest, LoggerRoundTripRestoresFieldsAndMask)
{
    Kelo_protocol writer(nullptr);
    writer.SetDeviceType(3);
    FillQx70(&writer.LoggerSettings());
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);

    Kelo_protocol reader(nullptr);
    reader.SetDeviceType(3);
    ASSERT_EQ(reader.ReadInfoFile(path_.c_str()), 1);
    const LoggerInfo& in = reader.LoggerSettings();
    EXPECT_STREQ(in.name, "SITE7");
    EXPECT_STREQ(in.sn, "QX70-00042");
    EXPECT_EQ(in.wake, 900u);
    EXPECT_EQ(in.padc, 60);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(in.ports[i], 10 + i);
        EXPECT_EQ(in.slope[i], 100 + i);
        EXPECT_EQ(in.offset[i], 200 + i);
    }
    EXPECT_EQ(in.rmode, 3u);
    EXPECT_EQ(in.rch, 12);
    EXPECT_EQ(in.rsch, -4);
    EXPECT_EQ(in.traits, 0x4001);
    EXPECT_EQ(in.data, 0);  // a Qx70 file's data line is not read
    const uint32_t mask = 0x1 | 0x2 | 0x10 | 0x20 | 0x40 | 0x200 | 0x400 | 0x808 | 0x2000000;
    EXPECT_EQ(in.valid, mask);
    EXPECT_EQ(reader.SavedMask(), mask);
}

TEST_F(SettingsFileTest, LastPortValueZeroLeavesPortsBitOut)
{
    Kelo_protocol writer(nullptr);
    writer.SetDeviceType(3);
    FillQx70(&writer.LoggerSettings());
    writer.LoggerSettings().ports[4] = 0;
    writer.LoggerSettings().offset[4] = 0;
    writer.LoggerSettings().name[0] = '\0';
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);

    Kelo_protocol reader(nullptr);
    reader.SetDeviceType(3);
    ASSERT_EQ(reader.ReadInfoFile(path_.c_str()), 1);
    const LoggerInfo& in = reader.LoggerSettings();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(in.ports[i], 10 + i);
    EXPECT_EQ(in.valid & 0x20, 0u);
    EXPECT_EQ(in.valid & 0x2000000, 0u);
    EXPECT_EQ(in.valid & 0x1, 0u);  // empty name counts as not found
    EXPECT_EQ(in.valid & 0x2, 0x2u);
}

TEST_F(SettingsFileTest, HubTerminalAndQx7bReadTheirOwnKeys)
{
    Kelo_protocol writer(nullptr);
    writer.SetDeviceType(4);
    FillQx70(&writer.LoggerSettings());
    std::strcpy(writer.LoggerSettings().modelName, "HubTerminal");
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);
    Kelo_protocol hub(nullptr);
    hub.SetDeviceType(4);
    ASSERT_EQ(hub.ReadInfoFile(path_.c_str()), 1);
    EXPECT_EQ(hub.LoggerSettings().valid, 0x1u | 0x2 | 0x400 | 0x808 | 0x100);
    EXPECT_EQ(hub.LoggerSettings().data, 77);
    EXPECT_EQ(hub.LoggerSettings().wake, 0u);

    std::strcpy(writer.LoggerSettings().modelName, "Qx7b");
    writer.SetDeviceType(2);
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);
    Kelo_protocol qx7b(nullptr);
    qx7b.SetDeviceType(2);
    ASSERT_EQ(qx7b.ReadInfoFile(path_.c_str()), 1);
    EXPECT_EQ(qx7b.LoggerSettings().valid, 0x1u | 0x2 | 0x10 | 0x40 | 0x20);
    EXPECT_EQ(qx7b.LoggerSettings().slope[0], 0);
}

TEST_F(SettingsFileTest, InstrumentRoundTripForCanopyMeter)
{
    Kelo_protocol writer(nullptr);
    writer.SetDeviceType(9);
    InstrumentInfo& out = writer.InstrumentSettings();
    std::strcpy(out.sn, "WN-1234");
    out.contr = 33;
    out.units = 2;
    std::strcpy(out.fvals, "1.5 2.5 3.5");
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);
    EXPECT_EQ(FileText(), std::string(kHeader) +
                              "type=\"WN\"\r\nsn=\"WN-1234\"\r\nlang=\"0\"\r\ncontr=\"33\"\r\nconfig=\"\"\r\n"
                              "fvals=\"1.5 2.5 3.5\"\r\nuvals=\"\"\r\nunits=\"2\"\r\nadc=\"\"\r\nadccal=\"\"\r\n");

    Kelo_protocol reader(nullptr);
    reader.SetDeviceType(9);
    ASSERT_EQ(reader.ReadInfoFile(path_.c_str()), 1);
    const InstrumentInfo& in = reader.InstrumentSettings();
    EXPECT_EQ(in.type, 9);
    EXPECT_STREQ(in.sn, "WN-1234");
    EXPECT_EQ(in.contr, 33);
    EXPECT_EQ(in.units, 2);
    EXPECT_STREQ(in.fvals, "1.5 2.5 3.5");
    EXPECT_EQ(in.valid, 0x4u | 0x2 | 0x10 | 0x80 | 0x20);
}

TEST_F(SettingsFileTest, FileOfAnotherTypeChangesNothing)
{
    Kelo_protocol writer(nullptr);
    writer.SetDeviceType(12);
    std::strcpy(writer.InstrumentSettings().config, "CFG");
    ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);

    Kelo_protocol reader(nullptr);
    reader.SetDeviceType(11);
    std::strcpy(reader.InstrumentSettings().adccal, "kept");
    EXPECT_EQ(reader.ReadInfoFile(path_.c_str()), -30);
    EXPECT_STREQ(reader.InstrumentSettings().adccal, "kept");
    EXPECT_EQ(reader.InstrumentSettings().valid, 0u);

    reader.SetDeviceType(3);
    EXPECT_EQ(reader.ReadInfoFile(path_.c_str()), -30);
    EXPECT_EQ(reader.LoggerSettings().valid, 0u);
    reader.SetDeviceType(10);  // a type without settings of its own
    EXPECT_EQ(reader.ReadInfoFile(path_.c_str()), -30);
    reader.SetDeviceType(5);
    EXPECT_EQ(reader.ReadInfoFile(path_.c_str()), -13);
}

TEST_F(SettingsFileTest, OpenFailures)
{
    Kelo_protocol kp(nullptr);
    kp.SetDeviceType(12);
    EXPECT_EQ(kp.ReadInfoFile(path_.c_str()), -102);
    EXPECT_EQ(kp.ReadInfoFile(""), -10);
    EXPECT_EQ(kp.WriteInfoFile(nullptr), -10);
    // A folder cannot be opened as a file for writing.
    EXPECT_LT(kp.WriteInfoFile(::testing::TempDir().c_str()), 0);
}

#ifndef _WIN32  // pipes and pseudo-terminals stand for what is not a file
TEST_F(SettingsFileTest, WhatIsNotASettingsFileIsRefusedUnread)
{
    const std::string fifo = path_ + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it plainly would block
    int master = -1;
    const std::string device = OwnDevice(&master);
    ASSERT_FALSE(device.empty());
    WriteText("type=\"R7F\"\r\nconfig=\"BIG\"\r\n");
    ASSERT_EQ(::truncate(path_.c_str(), 1024 * 1024), 0);
    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {::testing::TempDir(), -EISDIR},
        {fifo, -ENODEV},
        {device, -ENODEV},
        {path_, -EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Kelo_protocol kp(nullptr);
        kp.SetDeviceType(12);
        EXPECT_EQ(kp.ReadInfoFile(c.path.c_str()), c.expected);
        EXPECT_EQ(kp.InstrumentSettings().valid, 0u);
    }
    ::close(master);
    std::remove(fifo.c_str());
}
#endif

TEST_F(SettingsFileTest, ValueScannersFollowTheFormat)
{
    char sn[16];
    // A value longer than the field is cut.
    EXPECT_TRUE(Kelo_protocol::GetTextValue("sn=\"ABCDEFGHIJKLMNOPQRST\"\r\n", "sn", sn, sizeof(sn)));
    EXPECT_STREQ(sn, "ABCDEFGHIJKLMNO");
    // A value ends at a quote inside it.
    char v[64];
    EXPECT_TRUE(Kelo_protocol::GetTextValue("fvals=\"1 \"2\" 3\"\r\n", "fvals", v, sizeof(v)));
    EXPECT_STREQ(v, "1 ");
    // An empty value counts as not found.
    EXPECT_FALSE(Kelo_protocol::GetTextValue("adc=\"\"\r\n", "adc", v, sizeof(v)));
    EXPECT_STREQ(v, "");
    EXPECT_FALSE(Kelo_protocol::GetTextValue("adc=\"x\"", "adccal", v, sizeof(v)));
    EXPECT_FALSE(Kelo_protocol::GetTextValue("adc=x", "adc", v, sizeof(v)));

    int32_t n = 5;
    EXPECT_TRUE(Kelo_protocol::GetNumberValue("lang=\"  -12x\"", "lang", &n));
    EXPECT_EQ(n, -12);
    EXPECT_TRUE(Kelo_protocol::GetNumberValue("lang=\"\"", "lang", &n));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(Kelo_protocol::GetNumberValue("lang=1", "lang", &n));
    EXPECT_FALSE(Kelo_protocol::GetNumberValue("units=\"1\"", "lang", &n));
}

TEST_F(SettingsFileTest, KeyInsideAnotherValueIsTakenFromThere)
{
    WriteText(std::string(kHeader) + "type=\"Qx7b\"\r\nname=\"Bsnow\"\r\nsn=\"S-77\"\r\n");
    Kelo_protocol kp(nullptr);
    kp.SetDeviceType(2);
    ASSERT_EQ(kp.ReadInfoFile(path_.c_str()), 1);
    EXPECT_STREQ(kp.LoggerSettings().name, "Bsnow");
    // "sn" is first found inside the name: what follows the name's closing
    // quote is a line break, so no serial number is read.
    EXPECT_STREQ(kp.LoggerSettings().sn, "");
    EXPECT_EQ(kp.LoggerSettings().valid & 0x2, 0u);
}

TEST_F(SettingsFileTest, DamagedValueStopsAtTheLineBreak)
{
    // The closing quote of config was lost: the value must not take the next
    // line along into a "set -config" command.
    WriteText(std::string(kHeader) + "type=\"R7F\"\r\nconfig=\"AVG=8\r\nadccal=\"512 498\"\r\n");
    Kelo_protocol kp(nullptr);
    kp.SetDeviceType(12);
    ASSERT_EQ(kp.ReadInfoFile(path_.c_str()), 1);
    EXPECT_STREQ(kp.InstrumentSettings().config, "AVG=8");
    EXPECT_STREQ(kp.InstrumentSettings().adccal, "512 498");

    char v[32];
    EXPECT_TRUE(Kelo_protocol::GetTextValue("config=\"A\nB\"", "config", v, sizeof(v)));
    EXPECT_STREQ(v, "A");
}
