#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "KeloLog.h"

namespace {

std::string TempPath(const char* name)
{
    return std::string(::testing::TempDir()) + name + std::to_string(::getpid());
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// 7 December 2026 09:05:03 local time.
std::time_t FixedClock()
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace

TEST(KeloLog, LineIsByteExactWithFixedMonthNamesAndCrLf)
{
    std::string path = TempPath("line");
    KeloLog log(path.c_str(), 1, true);
    log.SetClockForTesting(FixedClock);
    int n = log.LogMessage(1, "KeloBSL", "BSLConnect failed (%d)", -110);
    log.LogMessage(1, "KeloSerial", "plain text without conversions");  // no conversions, no arguments
    std::string expected = "7 Dec 2026 9:05:03 - KeloBSL: BSLConnect failed (-110)\r\n";
    EXPECT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(Slurp(path), expected + "7 Dec 2026 9:05:03 - KeloSerial: plain text without conversions\r\n");
    std::remove(path.c_str());
}

TEST(KeloLog, TimeStampIgnoresLocaleAndPadsOnlyMinutesAndSeconds)
{
    std::tm t{};
    t.tm_year = 100;
    t.tm_mon = 0;
    t.tm_mday = 1;
    t.tm_hour = 0;
    t.tm_min = 0;
    t.tm_sec = 10;
    char out[64];
    KeloLog::FormatTimeStamp(t, out, sizeof out);
    EXPECT_STREQ(out, "1 Jan 2000 0:00:10");
    t.tm_mon = 8;
    t.tm_mday = 30;
    t.tm_hour = 23;
    t.tm_min = 59;
    KeloLog::FormatTimeStamp(t, out, sizeof out);
    EXPECT_STREQ(out, "30 Sep 2000 23:59:10");
}

TEST(KeloLog, LevelsFilterMessages)
{
    std::string path = TempPath("levels");
    {
        KeloLog log(path.c_str(), 1, true);
        EXPECT_GT(log.LogMessage(1, "t", "one"), 0);
        EXPECT_EQ(log.LogMessage(10, "t", "ten"), 0);
        EXPECT_EQ(log.LogMessage(30, "t", "thirty"), 0);
        EXPECT_EQ(log.LogMessage(40, "t", "forty"), 0);
        ASSERT_TRUE(log.SetLevel(30));
        EXPECT_GT(log.LogMessage(10, "t", "ten"), 0);
        EXPECT_GT(log.LogMessage(30, "t", "thirty"), 0);
        EXPECT_EQ(log.LogMessage(40, "t", "forty"), 0);
        ASSERT_TRUE(log.SetLevel(0));
        EXPECT_EQ(log.LogMessage(1, "t", "never"), 0);
    }
    std::string text = Slurp(path);
    EXPECT_NE(text.find("t: one\r\n"), std::string::npos);
    EXPECT_EQ(text.find("forty"), std::string::npos);
    EXPECT_EQ(text.find("never"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    std::remove(path.c_str());
}

TEST(KeloLog, InvalidLevelsAreRefused)
{
    KeloLog log(TempPath("refused").c_str(), 20, false);
    EXPECT_EQ(log.Level(), 1u);
    EXPECT_FALSE(log.SetLevel(20));
    EXPECT_EQ(log.Level(), 1u);
    EXPECT_TRUE(log.SetLevel(40));
    EXPECT_EQ(log.Level(), 40u);
}

TEST(KeloLog, WithoutAPathTheLinesGoToErrorTxtInTheCurrentFolder)
{
    const std::filesystem::path folder = TempPath("cwd"), before = std::filesystem::current_path();
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    KeloLog(nullptr, 1, true).LogMessage(1, "run", "no path given");
    std::filesystem::current_path(before);
    EXPECT_NE(Slurp((folder / "error.txt").string()).find("no path given"), std::string::npos);
    std::filesystem::remove_all(folder);
}

TEST(KeloLog, EraseFlagStartsFreshOtherwiseAppends)
{
    std::string path = TempPath("erase");
    { KeloLog(path.c_str(), 1, true).LogMessage(1, "run", "first"); }
    { KeloLog(path.c_str(), 1, false).LogMessage(1, "run", "second"); }
    std::string both = Slurp(path);
    EXPECT_LT(both.find("first"), both.find("second"));
    { KeloLog(path.c_str(), 1, true).LogMessage(1, "run", "third"); }
    std::string fresh = Slurp(path);
    EXPECT_EQ(fresh.find("first"), std::string::npos);
    EXPECT_NE(fresh.find("third"), std::string::npos);
    std::remove(path.c_str());
}

TEST(KeloLog, FileSizeAndMissingFile)
{
    std::string path = TempPath("size");
    KeloLog log(path.c_str(), 1, true);
    EXPECT_LT(log.LogFileSize(), 0);  // missing: negative, never 0
    int n = log.LogMessage(1, "t", "x");
    EXPECT_EQ(log.LogFileSize(), n);
    std::remove(path.c_str());
    // Deleted behind the log's back: the next line creates it again.
    EXPECT_GT(log.LogMessage(1, "t", "again"), 0);
    EXPECT_GT(log.LogFileSize(), 0);
    std::remove(path.c_str());
}

TEST(KeloLog, UnwritableFolderDropsTheLineQuietly)
{
    KeloLog log("/nonexistent-folder/kelo/log.txt", 1, false);
    EXPECT_EQ(log.LogMessage(1, "t", "lost"), 0);
    EXPECT_LT(log.LogFileSize(), 0);
}
