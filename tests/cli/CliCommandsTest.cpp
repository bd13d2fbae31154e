#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "BuiltInImageTarget.h"
#include "CliFixture.h"

namespace {
class CliCommands : public CliFixture {};
}  // namespace

TEST_F(CliCommands, InspectShowsWhatAnUpdateWouldLoad)
{
    CliRun run = RunCli({"inspect", std::string(KELO_SOURCE_DIR) + "/firmware/R7F-3-52.txt"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Target:       R7F 3.52")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Device type:  12 (Hydrova Series 3)"));
    EXPECT_TRUE(Contains(run.out, "Version:      352"));
    EXPECT_TRUE(Contains(run.out, "Image length: 56334 characters"));
    EXPECT_TRUE(Contains(run.out, "  0x7200  "));
    EXPECT_TRUE(Contains(run.out, "  0xFE00  "));

    CliRun json = RunCli({"inspect", "--json", std::string(KELO_SOURCE_DIR) + "/firmware/R7F-3-52.txt"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(Contains(json.out, "\"imageLength\":56334")) << json.out;
}

TEST_F(CliCommands, InspectRefusesAMalformedFile)
{
    std::string path = dir_ + "/r7f_3-53.txt";
    std::ofstream(path) << "@7200\n01 02 G7 04\n@FFE0\n00 72\nq\n";
    CliRun run = RunCli({"inspect", path});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, "is not a valid TI-Text firmware file")) << run.out;

    CliRun update = RunCli({"update", "--port", "/dev/null", "--firmware", path, "--data-dir", dir_});
    EXPECT_EQ(update.exitCode, 2) << update.out;
    EXPECT_TRUE(Contains(update.out, "is not a valid firmware file.")) << update.out;
}

TEST_F(CliCommands, ListPortsAndUsageErrors)
{
    CliRun list = RunCli({"list-ports"});
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_FALSE(list.out.empty());
    CliRun json = RunCli({"list-ports", "--json"});
    EXPECT_TRUE(Contains(json.out, "{\"ports\":[")) << json.out;

    EXPECT_EQ(RunCli({"update"}).exitCode, 2);
    EXPECT_EQ(RunCli({"frobnicate"}).exitCode, 2);
    CliRun badSn = RunCli({"update", "--port", "/dev/null", "--new-sn", "AB\tC", "--data-dir", dir_});
    EXPECT_EQ(badSn.exitCode, 2);
    EXPECT_TRUE(Contains(badSn.out, "control character")) << badSn.out;
    CliRun longSn = RunCli({"update", "--port", "/dev/null", "--new-sn", "12345678901234567890", "--data-dir", dir_});
    EXPECT_EQ(longSn.exitCode, 2);
    EXPECT_TRUE(Contains(longSn.out, "at most 15")) << longSn.out;
    CliRun help = RunCli({"update", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, "6  cancelled")) << help.out;
}

TEST_F(CliCommands, TheDemonstrationImageIsNamedAndWrittenOnlyWhenAskedFor)
{
    if (!kBuiltInImageIsDemo)
        GTEST_SKIP() << "this build embeds the maker's image";
    CliRun refused = RunCli({"update", "--port", "/dev/ttyKELO-missing", "--data-dir", dir_});
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(Contains(refused.out, "demonstration image") && Contains(refused.out, "-DKELO_BUILTIN_IMAGE=") &&
                Contains(refused.out, "--demo-image"))
        << refused.out;
    EXPECT_FALSE(Contains(refused.out, "Connecting")) << "refused before any port is opened";

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"inspect"}}) {
        CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(Contains(run.out, "demonstration image")) << args[0] << ": " << run.out;
    }
}

TEST_F(CliCommands, AnEmptyLogIsRemovedOnlyWhenItIsAFileOfOurOwn)
{
    // A device node standing in for --log /dev/null: it always reads as empty.
    std::string node = dir_ + "/null-device";
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    CliRun run = RunCli({"update", "--port", "/dev/ttyKELO-missing", "--log", node, "--data-dir", dir_, "--demo-image"});
    EXPECT_NE(run.exitCode, 0);
    struct stat info {};
    ASSERT_EQ(::stat(node.c_str(), &info), 0) << "the device node was removed";
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(CliCommands, HistoryShowsNewestFirstAndSkipsABrokenLine)
{
    auto record = [](const char* time, const char* port, const char* old) {
        return std::string(R"({"time":")") + time + R"(","port":)" + port + R"(,"oldVersion":)" + old +
               R"(,"newVersion":"3.52","words":"updated","seconds":66.2})" + "\n";
    };
    std::ofstream(dir_ + "/history.jsonl") << record("2026-12-08T09:00:00Z", R"("ttyUSB0")", R"("3.51")")
                                           << record("2026-12-08T11:00:00Z", R"("ttyUSB1")", "null")
                                           << R"({"time":"2026-12-08T10:0)" << "\n"
                                           << record("2026-12-08T10:00:00Z", R"("COM\"7\"")", "null")
                                           << record("2026-12-08T11:00:00Z", R"("ttyUSB2")", "null");
    const std::vector<std::string> newestFirst = {"ttyUSB2", "ttyUSB1", "COM\"7\"", "ttyUSB0"};

    CliRun table = RunCli({"history", "--data-dir", dir_});
    EXPECT_EQ(table.exitCode, 0) << table.out;
    EXPECT_TRUE(Contains(table.out, "history.jsonl line 3 is not a whole update record; skipped.")) << table.out;
    EXPECT_TRUE(Contains(table.out, "3.51 -> 3.52") && Contains(table.out, "- -> 3.52")) << table.out;
    std::size_t at = table.out.find("Time (UTC)");
    for (const std::string& port : newestFirst) {
        at = table.out.find(port, at);
        ASSERT_NE(at, std::string::npos) << port << " missing or out of order in:\n" << table.out;
    }

    CliRun json = RunCli({"history", "--json", "--data-dir", dir_});
    EXPECT_EQ(json.exitCode, 0) << json.out;
    std::vector<std::string> ports;
    for (const nlohmann::json& r : nlohmann::json::parse(json.out.substr(json.out.find('[')), nullptr, false))
        ports.push_back(r.value("port", ""));
    EXPECT_EQ(ports, newestFirst) << json.out;

    CliRun none = RunCli({"history", "--data-dir", dir_ + "/empty"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(Contains(none.out, "No updates are recorded in " + dir_ + "/empty/history.jsonl yet.")) << none.out;
}

// A refused update is recorded too, and a history that cannot be written
// changes nothing but the log.
TEST_F(CliCommands, AnUpdateIsRecordedEvenWhenRefusedAndNeverFailsForItsHistory)
{
    const std::string blocked = dir_ + "/blocked";
    std::filesystem::create_directories(blocked + "/history.jsonl");
    for (const std::string& folder : {dir_, blocked}) {
        CliRun run = RunCli({"update", "--port", "/dev/ttyKELO-missing", "--demo-image", "--data-dir", folder});
        EXPECT_EQ(run.exitCode, 3) << run.out;
    }
    ASSERT_EQ(History().size(), 1u);
    EXPECT_EQ(History()[0].value("result", 0), -20) << History()[0];
    EXPECT_EQ(History()[0].value("words", ""), "no such port (-2)");
    EXPECT_TRUE(Contains(ReadFile(blocked + "/Hydrova Series 3 Firmware Updater.errors.txt"),
                         "Could not add the update to the history " + blocked + "/history.jsonl"));
}
