// Several devices in one kelobsl-cli run, each on its own thread.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "CliFixture.h"
#include "CliRunner.h"
#include "SimProcess.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// One simulated device behind a fixed link name, as a bench's by-id names are.
struct Bench {
    std::string link;
    std::string state;
    SimProcess sim;

    void Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--link", link, "--state", state});
        std::string error;
        ASSERT_TRUE(sim.Start(args, &error)) << error;
    }
    std::string Settings() const
    {
        return AskDevice(link, "get -config") + "|" + AskDevice(link, "get -adccal");
    }
    // What a JT5 Pro keeps.
    std::string JvSettings() const
    {
        return AskDevice(link, "get -sn") + "|" + AskDevice(link, "get -contr") + "|" + AskDevice(link, "get -units") +
               "|" + AskDevice(link, "get -adc");
    }
};

class ParallelUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Short: a port name holds at most 64 characters.
        static int run = 0;
        dir_ = fs::path(::testing::TempDir()) / ("kelo-par-" + std::to_string(::getpid()) + "-" + std::to_string(++run));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data");
    }
    void TearDown() override
    {
        for (Bench& b : bench_)
            if (b.sim.Running())
                b.sim.Stop();
        if (!HasFailure())
            fs::remove_all(dir_);
    }
    Bench& At(int i)
    {
        Bench& b = bench_[static_cast<std::size_t>(i)];
        b.link = (dir_ / ("bench-" + std::string(1, static_cast<char>('a' + i)))).string();
        b.state = (dir_ / ("device-" + std::to_string(i) + ".state")).string();
        return b;
    }
    CliRun Update(const std::vector<int>& which, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"update", "--data-dir", (dir_ / "data").string(), "--demo-image"};
        for (int i : which)
            args.insert(args.end(), {"--port", bench_[static_cast<std::size_t>(i)].link});
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }

    // A JT5 Pro firmware file, version 1.05.
    std::string JvFirmware() const
    {
        const std::string path = (dir_ / "JV-1-05.txt").string();
        const std::string command = std::string(KELO_BINARY_DIR) +
                                    "/sim/mkfirmware/mkfirmware --type JV --version 1.05 --image-chars 4010 -o '" +
                                    path + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }
    CliRun UpdateOne(int i, std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"update", "--data-dir", (dir_ / "data").string(), "--port",
                                         bench_[static_cast<std::size_t>(i)].link};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }

    fs::path dir_;
    std::array<Bench, 4> bench_;
};

}  // namespace

// Two devices on their firmware, one waiting in its loader with the settings
// file of an earlier run, one without a working loader: three are updated
// with their own settings, the fourth fails on its own.
TEST_F(ParallelUpdate, FourDevicesAtOnceEachWithItsOwnSettingsLogAndResult)
{
    At(0).Start({"--type", "R7F", "--version", "3.51"});
    At(1).Start({"--type", "R7F", "--version", "3.51"});
    At(2).Start({"--type", "R7F", "--version", "3.51", "--fault", "power-loss=5"});
    At(3).Start({"--type", "R7F", "--version", "3.51", "--fault", "no-bootloader"});
    // Every device its own configuration, so that a mix-up shows.
    std::array<std::string, 4> original;
    for (int i = 0; i < 4; ++i) {
        const Bench& b = bench_[static_cast<std::size_t>(i)];
        AskDevice(b.link, "login *4827");  // the instrument's service login
        AskDevice(b.link, "set -config CH1=ON CH2=OFF AVG=" + std::to_string(i + 1));
        AskDevice(b.link, "logout");
        original[static_cast<std::size_t>(i)] = b.Settings();
        ASSERT_TRUE(Contains(original[static_cast<std::size_t>(i)], "AVG=" + std::to_string(i + 1))) << original[i];
    }

    // The earlier run: the power fails in the erase and the device stays in its loader.
    CliRun earlier = Update({2, 3});
    ASSERT_EQ(earlier.exitCode, 5) << earlier.out;
    const fs::path savedC = dir_ / "data" / "Hydrova Series 3-bench-c.settings.txt";
    ASSERT_TRUE(fs::exists(savedC)) << earlier.out;
    bench_[2].sim.Stop();
    bench_[2].Start({"--type", "R7F", "--version", "3.51"});
    ASSERT_EQ(AskDevice(bench_[2].link, "get -ver"), "") << "the device waits in its loader";
    fs::remove(dir_ / "data" / "Hydrova Series 3 Firmware Updater-bench-c.errors.txt");
    fs::remove(dir_ / "data" / "Hydrova Series 3 Firmware Updater-bench-d.errors.txt");

    // Device c waits in its loader, and the unfinished updates of c and d are
    // both its type's: which it is is asked, the port stops, the answer follows.
    CliRun run = Update({0, 1, 2, 3}, {"--verbose"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Which Instrument? (" + bench_[2].link + ") ==") &&
                Contains(run.out, savedC.string()) && Contains(run.out, "Hydrova Series 3-bench-d.settings.txt"))
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(bench_[2].link + " +- +\\(loader\\) -> 3\\.52 +stopped \\(2\\) ")))
        << run.out;
    EXPECT_EQ(AskDevice(bench_[2].link, "get -ver"), "") << "nothing was written";
    CliRun answered = UpdateOne(2, {"--demo-image", "--verbose", "--settings-file", savedC.string()});
    EXPECT_EQ(answered.exitCode, 0) << answered.out;
    for (int i = 0; i < 3; ++i) {
        const Bench& b = bench_[static_cast<std::size_t>(i)];
        SCOPED_TRACE(b.link);
        EXPECT_EQ(AskDevice(b.link, "get -ver"), "R7F 3.52");
        EXPECT_EQ(b.Settings(), original[static_cast<std::size_t>(i)]);
        if (i != 2) {
            EXPECT_TRUE(std::regex_search(run.out, std::regex("\n" + b.link + " +Hydrova Series 3 +[^ ]+ -> 3\\.52 +updated +[0-9.]+\n")))
                << run.out;
        }
    }
    EXPECT_EQ(AskDevice(bench_[3].link, "get -ver"), "R7F 3.51");
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\n" + bench_[3].link + " +Hydrova Series 3 +3\\.51 -> 3\\.52 +"
                                                      "refused \\(4\\) +[0-9.]+ +the device has no working firmware loader")))
        << run.out;

    // Only the failed device's settings file is left, and each log tells of its own port alone.
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_ / "data"))
        if (entry.is_regular_file() && entry.path().extension() != ".lock")
            files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"Hydrova Series 3-bench-d.settings.txt",
                                            "Hydrova Series 3-bench-d.settings.txt.update", "history.jsonl",
                                            "Hydrova Series 3 Firmware Updater.errors.txt",
                                            "Hydrova Series 3 Firmware Updater-bench-a.errors.txt",
                                            "Hydrova Series 3 Firmware Updater-bench-b.errors.txt",
                                            "Hydrova Series 3 Firmware Updater-bench-c.errors.txt",
                                            "Hydrova Series 3 Firmware Updater-bench-d.errors.txt"}));
    EXPECT_TRUE(Contains(Read(dir_ / "data" / "Hydrova Series 3-bench-d.settings.txt"), "AVG=4"));
    for (int i = 0; i < 4; ++i) {
        const std::string log =
            Read(dir_ / "data" / ("Hydrova Series 3 Firmware Updater-bench-" + std::string(1, static_cast<char>('a' + i)) + ".errors.txt"));
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(Contains(log, bench_[static_cast<std::size_t>(j)].link), i == j) << "log " << i << ", port " << j;
    }
    // The history: two lines of the earlier run, one a port of this one, then the answered one.
    std::istringstream history(Read(dir_ / "data" / "history.jsonl"));
    std::map<std::string, int> results;
    int lines = 0;
    for (std::string line; std::getline(history, line); ++lines)
        if (lines >= 2) {
            const nlohmann::json record = nlohmann::json::parse(line);
            results[record["port"]] = record["result"];
        }
    EXPECT_EQ(lines, 7);
    EXPECT_EQ(results, (std::map<std::string, int>{{bench_[0].link, 1}, {bench_[1].link, 1}, {bench_[2].link, 1},
                                                   {bench_[3].link, -112}}));
    EXPECT_TRUE(Contains(Read(dir_ / "data" / "Hydrova Series 3 Firmware Updater.errors.txt"),
                         "Restoring settings from " + savedC.string()))
        << "the device in its loader got the settings of its own earlier run";
}

// A settings file left by a run with one port may hold the calibration of any
// device of its type: one whose settings do not match it stops untouched, one
// whose settings match it is updated, and the device in its loader on the
// port of that run gets it.
TEST_F(ParallelUpdate, AOnePortRunsSettingsFileStopsTheDevicesItMayBelongTo)
{
    At(0).Start({"--type", "R7F", "--version", "3.51", "--fault", "power-loss=5"});
    At(1).Start({"--type", "R7F", "--version", "3.51"});
    At(2).Start({"--type", "R7F", "--version", "3.51"});
    AskDevice(bench_[2].link, "login *4827");
    AskDevice(bench_[2].link, "set -config CH1=ON CH2=OFF AVG=7");
    AskDevice(bench_[2].link, "logout");
    const std::string changed = bench_[2].Settings();

    CliRun earlier = RunCli({"update", "--data-dir", (dir_ / "data").string(), "--demo-image", "--port", bench_[0].link});
    ASSERT_EQ(earlier.exitCode, 5) << earlier.out;
    const fs::path onePortFile = dir_ / "data" / "Hydrova Series 3.settings.txt";
    const std::string saved = Read(onePortFile);
    ASSERT_FALSE(saved.empty()) << earlier.out;
    bench_[0].sim.Stop();
    bench_[0].Start({"--type", "R7F", "--version", "3.51"});

    CliRun run = Update({0, 1, 2});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    // The device in its loader is on the port of that run: the file is its own.
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("\n" + bench_[0].link + " +Hydrova Series 3 +\\(loader\\) -> 3\\.52 +updated ")))
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\n" + bench_[1].link + " +Hydrova Series 3 +3\\.51 -> 3\\.52 +updated ")))
        << run.out;
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("\n" + bench_[2].link + " +Hydrova Series 3 +3\\.51 -> 3\\.52 +stopped \\(2\\) .*the settings "
                            "just read do not match it \\(-103\\); nothing was erased.* --settings-from saved")))
        << run.out;

    EXPECT_FALSE(fs::exists(onePortFile)) << "its update is finished";
    EXPECT_EQ(AskDevice(bench_[0].link, "get -ver"), "R7F 3.52");
    EXPECT_TRUE(Contains(saved, "adccal=\"" + AskDevice(bench_[0].link, "get -adccal") + "\"")) << saved;
    EXPECT_EQ(AskDevice(bench_[1].link, "get -ver"), "R7F 3.52");
    EXPECT_EQ(AskDevice(bench_[2].link, "get -ver"), "R7F 3.51");
    EXPECT_EQ(bench_[2].Settings(), changed);
}

// With --json every object names its port, and the run ends with a summary.
TEST_F(ParallelUpdate, JsonEventsNameTheirPort)
{
    At(0).Start({"--type", "R7F", "--version", "3.51", "--fault", "no-bootloader"});
    At(1).Start({"--type", "R7F", "--version", "3.51", "--fault", "no-bootloader"});
    CliRun run = Update({0, 1}, {"--json"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    std::istringstream lines(run.out);
    std::string line;
    std::map<std::string, int> results;
    nlohmann::json last;
    while (std::getline(lines, line)) {
        last = nlohmann::json::parse(line);
        if (last["event"] == "summary")
            break;
        ASSERT_TRUE(last["port"] == bench_[0].link || last["port"] == bench_[1].link) << line;
        if (last["event"] == "result")
            ++results[last["port"]];
    }
    EXPECT_EQ(results, (std::map<std::string, int>{{bench_[0].link, 1}, {bench_[1].link, 1}}));
    EXPECT_EQ(last["event"], "summary");
    EXPECT_EQ(last["exit"], 4);
    EXPECT_EQ(last["ports"].size(), 2u);
}

TEST(ParallelUpdateUsage, TheSamePortTwiceIsAUsageError)
{
    CliRun run = RunCli({"update", "--demo-image", "--port", "ttyS0", "--port", "/dev/ttyS0"});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, "the port /dev/ttyS0 is given twice (as ttyS0)")) << run.out;
}
