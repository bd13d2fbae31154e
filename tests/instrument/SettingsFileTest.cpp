#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>  // a file size limit stands for a full disk
#endif

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
    // Temporary files of the writer left beside the settings file.
    int TemporaryFiles() const
    {
        const std::filesystem::path p(path_);
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(p.parent_path()))
            if (entry.path().filename().string().rfind(p.filename().string() + ".tmp", 0) == 0)
                ++n;
        return n;
    }
    // The serial number as the archive reads it from the file.
    std::string SettingsArchiveSn() const
    {
        char sn[16];
        const std::string text = FileText();
        return Kelo_protocol::GetTextValue(text.c_str(), "sn", sn, sizeof sn) ? sn : "";
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

// Ports and their calibration go back whatever their values: a last port of
// 0 once left all five out.
TEST_F(SettingsFileTest, AZeroLastPortStillRestoresThePorts)
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
    EXPECT_EQ(in.ports[4], 0);
    EXPECT_EQ(in.valid & 0x20, 0x20u);
    EXPECT_EQ(in.valid & 0x2000000, 0x2000000u);
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
    EXPECT_EQ(reader.ReadInfoFile(path_.c_str()), result::kNotForThisDevice);
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
        int systemError;
    } cases[] = {
        {::testing::TempDir(), EISDIR},
        {fifo, ENODEV},
        {device, ENODEV},
        {path_, EFBIG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Kelo_protocol kp(nullptr);
        kp.SetDeviceType(12);
        EXPECT_EQ(kp.ReadInfoFile(c.path.c_str()), result::kSettingsUnreadable);
        EXPECT_EQ(kp.FileSystemError(), c.systemError);
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

// Keys match whole at a line's start: a logger named "Birch" keeps its radio
// channel, names holding "sn", "wake" or "data" keep those settings.
TEST_F(SettingsFileTest, KeysAreMatchedAtTheLineStartOnly)
{
    const struct {
        int type;
        const char* model;
        const char* name;
    } rows[] = {
        {3, "Qx70", "Birch"}, {3, "Qx70", "sn1"}, {3, "Qx70", "wake"}, {2, "Qx7b", "sn"},
        {4, "HubTerminal", "data"}, {4, "HubTerminal", "rsch"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Kelo_protocol writer(nullptr);
        writer.SetDeviceType(static_cast<int8_t>(row.type));
        FillQx70(&writer.LoggerSettings());
        std::strcpy(writer.LoggerSettings().modelName, row.model);
        std::strcpy(writer.LoggerSettings().name, row.name);
        writer.LoggerSettings().rch = 3;
        ASSERT_EQ(writer.WriteInfoFile(path_.c_str()), 1);

        Kelo_protocol reader(nullptr);
        reader.SetDeviceType(static_cast<int8_t>(row.type));
        ASSERT_EQ(reader.ReadInfoFile(path_.c_str()), 1);
        const LoggerInfo& in = reader.LoggerSettings();
        EXPECT_STREQ(in.name, row.name);
        EXPECT_STREQ(in.sn, "QX70-00042");
        if (row.type != 4) {
            EXPECT_EQ(in.wake, 900u);
            EXPECT_EQ(in.padc, 60);
        } else {
            EXPECT_EQ(in.data, 77);
        }
        if (row.type != 2) {
            EXPECT_EQ(in.rch, 3);
            EXPECT_EQ(in.rsch, -4);
        }
        EXPECT_EQ(SettingsArchiveSn(), "QX70-00042");
    }
}

// A file that lacks a line of its type, or holds one damaged (closing quote
// lost, a number that is none), is refused: nothing is taken from it, the
// keys are named and the file stays.
TEST_F(SettingsFileTest, AFileLackingKeysOfItsTypeIsRefusedWithTheirNames)
{
    const std::string r7f = std::string(kHeader) + "type=\"R7F\"\r\n";
    const std::string jv = std::string(kHeader) + "type=\"JV\"\r\nsn=\"JV-1\"\r\ncontr=\"5\"\r\n";
    const struct {
        int type;
        std::string text;
        const char* missing;
    } rows[] = {
        {12, r7f + "config=\"AVG=8\r\nadccal=\"512 498\"\r\n", "config"},
        {12, r7f + "adccal=\"512 498\"\r\nconfig=\"AVG=8\"\r\n", nullptr},
        {12, r7f + "xadccal=\"1\"\r\nconfig=\"AVG=8\"\r\n", "adccal"},
        {7, jv + "units=\"1", "units, adc"},
        {7, jv + "units=\"1x\"\r\nadc=\"A\"\r\n", "units"},
        {9, std::string(kHeader) + "type=\"WN\"\r\nsn=\"W\"\r\n", "contr, fvals, units"},
        {4, std::string(kHeader) + "type=\"HubTerminal\"\r\nname=\"H\"\r\nsn=\"S\"\r\nrch=\"1\"\r\nrsch=\"2\"\r\n",
         "data"},
        {2, std::string(kHeader) + "type=\"Qx7b\"\r\nname=\"Bsnow\"\r\nsn=\"S-77\"\r\n",
         "wake, padc, Port number=\"1\" value, Port number=\"2\" value, Port number=\"3\" value, "
         "Port number=\"4\" value, Port number=\"5\" value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        WriteText(row.text);
        Kelo_protocol kp(nullptr);
        kp.SetDeviceType(static_cast<int8_t>(row.type));
        if (!row.missing) {
            EXPECT_EQ(kp.ReadInfoFile(path_.c_str()), 1);
            EXPECT_STREQ(kp.MissingKeys(), "");
            continue;
        }
        EXPECT_EQ(kp.ReadInfoFile(path_.c_str()), -104);
        EXPECT_STREQ(kp.MissingKeys(), row.missing);
        EXPECT_EQ(kp.InstrumentSettings().valid, 0u);
        EXPECT_EQ(kp.LoggerSettings().valid, 0u);
        EXPECT_EQ(FileText(), row.text);
    }
}

// The settings file reaches its name whole or not at all: a write that
// fails (here at the file size limit, as on a full disk) keeps the earlier
// file as it was, and no temporary file is left either way.
TEST_F(SettingsFileTest, AFailedWriteKeepsTheEarlierFileAndLeavesNoTemporaryFile)
{
    Kelo_protocol kp(nullptr);
    kp.SetDeviceType(12);
    std::strcpy(kp.InstrumentSettings().config, "CFG");
    std::strcpy(kp.InstrumentSettings().adccal, "1 2");
    ASSERT_EQ(kp.WriteInfoFile(path_.c_str()), 1);
    const std::string earlier = FileText();
    EXPECT_EQ(TemporaryFiles(), 0);
#ifndef _WIN32
    std::strcpy(kp.InstrumentSettings().adccal, "3 4");
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t result = kp.WriteInfoFile(path_.c_str());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, result::kSettingsNotWritten);
    EXPECT_EQ(kp.FileSystemError(), EFBIG);
    EXPECT_STREQ(kp.FileError(), "the file is larger than this system lets the program write");
    EXPECT_EQ(FileText(), earlier);
    EXPECT_EQ(TemporaryFiles(), 0);
#endif
}
TEST_F(SettingsFileTest, DamagedValueStopsAtTheLineBreak)
{
    // The closing quote was lost: the value must not take the next line
    // along into a "set -config" command.
    char v[32];
    EXPECT_TRUE(Kelo_protocol::GetTextValue("config=\"A\nB\"", "config", v, sizeof(v)));
    EXPECT_STREQ(v, "A");
}
