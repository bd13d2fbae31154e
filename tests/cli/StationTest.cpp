// kelobsl-cli station: devices plugged in one after another (a kelosim tray
// on a link), serial numbers from a list, a firmware file per device type.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "CliFixture.h"
#include "CliRunner.h"
#include "SimProcess.h"

namespace fs = std::filesystem;

namespace {

class StationTest : public CliFixture {
protected:
    // A tray of count devices that appear one after another on a link of
    // their own; each leaves once its update has gone quiet (a tray of one
    // stays, to be looked at).
    const std::string& Tray(const std::string& type, int count, std::vector<std::string> extra = {})
    {
        const std::string link = dir_ + "/tray" + std::to_string(trays_.size());
        std::vector<std::string> args = {"--type", type, "--devices", std::to_string(count), "--link", link,
                                         "--gap", "300", "--restart-ms", "300"};
        if (count > 1)
            args.insert(args.end(), {"--leave-idle", "2000"});
        args.insert(args.end(), extra.begin(), extra.end());
        trays_.push_back(std::make_unique<SimProcess>());
        EXPECT_TRUE(trays_.back()->Start(args));
        links_.push_back(link);
        return links_.back();
    }
    CliRun Station(const std::vector<std::string>& ports, std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"station", "--data-dir", dir_, "--yes"};
        for (const std::string& port : ports)
            args.insert(args.end(), {"--port", port});
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }
    std::string List(const std::string& name, const std::string& text)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::vector<std::unique_ptr<SimProcess>> trays_;
    std::vector<std::string> links_;
};

// The numbers the history shows written, in order.
std::vector<std::string> Written(const std::vector<nlohmann::json>& history)
{
    std::vector<std::string> numbers;
    for (const auto& line : history)
        if (line["newSerialNumber"].is_string())
            numbers.push_back(line["newSerialNumber"]);
    return numbers;
}

}  // namespace

// Three new instruments (no serial number) get one number each from a list
// of three, each read back; the fourth finds none left and is not touched.
TEST_F(StationTest, SerialNumbersFromAListGoToOneInstrumentEachAndRunOutBeforeTheFourthIsTouched)
{
    const std::string firmware = MakeFirmware("JV-3-90.txt", "JV", "3.90");
    const std::string list = List("numbers.txt", "JVX-001\nJVX-002\nJVX-003\n");
    const std::string& tray = Tray("JV", 4, {"--version", "3.80", "--fault", "bare-sn"});
    const CliRun run = Station({tray}, {"--firmware", firmware, "--new-sn-from", list, "--count", "4"});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, "no serial numbers left in " + list)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Totals: 3 done, 1 failed")) << run.out;

    EXPECT_EQ(Written(History()), (std::vector<std::string>{"JVX-001", "JVX-002", "JVX-003"}));
    const std::string text = ReadFile(list);
    for (const char* number : {"JVX-001\tused ", "JVX-002\tused ", "JVX-003\tused "})
        EXPECT_TRUE(Contains(text, number)) << text;
    EXPECT_TRUE(Contains(text, ": JT5 Pro on " + tray + ", firmware 3.90")) << text;
    // The fourth device waits untouched: its old firmware, no serial number.
    EXPECT_EQ(AskDevice(tray, "get -ver"), "JV 3.80");
    EXPECT_EQ(AskDevice(tray, "get -sn"), "");
    // It adds its line to the history all the same: nothing written.
    const auto history = History();
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[3]["result"], -123) << history[3].dump();
    EXPECT_TRUE(history[3]["newSerialNumber"].is_null()) << history[3].dump();
}

// Two station programs on one list at the same time never hand out the
// same number.
TEST_F(StationTest, TwoStationsOnOneListNeverGiveTheSameNumber)
{
    const std::string firmware = MakeFirmware("JV-3-90.txt", "JV", "3.90");
    const std::string list = List("numbers.txt", "JVY-001\nJVY-002\nJVY-003\nJVY-004\nJVY-005\n");
    const std::string first = Tray("JV", 2, {"--fault", "bare-sn"});
    const std::string second = Tray("JV", 2, {"--fault", "bare-sn"});
    CliRun runs[2];
    std::thread other([&] { runs[1] = Station({second}, {"--firmware", firmware, "--new-sn-from", list, "--count", "2"}); });
    runs[0] = Station({first}, {"--firmware", firmware, "--new-sn-from", list, "--count", "2"});
    other.join();
    EXPECT_EQ(runs[0].exitCode, 0) << runs[0].out;
    EXPECT_EQ(runs[1].exitCode, 0) << runs[1].out;
    const std::vector<std::string> written = Written(History());
    EXPECT_EQ(written.size(), 4u);
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()).size(), 4u) << "a number went to two instruments";
    EXPECT_TRUE(Contains(ReadFile(list), "JVY-005\n")) << "the fifth number stays free";
}

// A mixed tray, one firmware file per type: each device gets the file for its
// type; a type without one is left untouched and says so.
TEST_F(StationTest, AMixedTrayGetsTheFirmwareOfEachTypeAndATypeWithoutOneIsLeftUntouched)
{
    const std::string r7f = MakeFirmware("R7F-3-52.txt", "R7F", "3.52");
    const std::string jv = MakeFirmware("JV-3-90.txt", "JV", "3.90");
    const std::string a = Tray("R7F", 1);
    const std::string b = Tray("JV", 1, {"--version", "3.80"});
    const std::string c = Tray("QX70", 1);
    const CliRun run = Station({a, b, c}, {"--firmware", r7f, "--firmware", jv, "--count", "3"});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, "no firmware for")) << run.out;
    EXPECT_EQ(AskDevice(a, "get -ver"), "R7F 3.52");
    EXPECT_EQ(AskDevice(b, "get -ver"), "JV 3.90");
    // The untouched device adds its line too: why, and nothing written.
    const auto history = History();
    ASSERT_EQ(history.size(), 3u);
    const auto& untouched = history[0]["port"] == c ? history[0] : history[1]["port"] == c ? history[1] : history[2];
    EXPECT_EQ(untouched["port"], c) << untouched.dump();
    EXPECT_EQ(untouched["result"], -123) << untouched.dump();
    EXPECT_EQ(untouched["device"], "Qx70") << untouched.dump();
    EXPECT_TRUE(Contains(untouched["words"].get<std::string>(), "no firmware for Qx70")) << untouched.dump();
    EXPECT_TRUE(untouched["newVersion"].is_null() && untouched["newSerialNumber"].is_null()) << untouched.dump();

    const CliRun twice = Station({a}, {"--firmware", r7f, "--firmware", MakeFirmware("R7F-3-53.txt", "R7F", "3.53")});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_TRUE(Contains(twice.out, "two firmware files for the")) << twice.out;
    const CliRun one = RunCli({"update", "--port", a, "--port", b, "--new-sn", "X-1", "--data-dir", dir_});
    EXPECT_EQ(one.exitCode, 2);
    EXPECT_TRUE(Contains(one.out, "--new-sn-from")) << one.out;
}

// Two links where devices appear and leave one after another: four devices,
// four updates, four history lines and the board's totals.
TEST_F(StationTest, DevicesComingAndGoingOnTwoLinksAreEachUpdatedOnce)
{
    const std::string a = Tray("R7F", 2, {"--version", "3.51"});
    const std::string b = Tray("R7F", 2, {"--version", "3.51"});
    const CliRun run = Station({a, b}, {"--demo-image", "--count", "4"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Totals: 4 done, 0 failed")) << run.out;
    const auto history = History();
    ASSERT_EQ(history.size(), 4u);
    int onA = 0;
    for (const auto& line : history) {
        EXPECT_EQ(line["result"], 1) << line.dump();
        onA += line["port"] == a;
    }
    EXPECT_EQ(onA, 2);
}

// A device found in its firmware loader cannot say its type. With images for
// two types, the one unfinished update left on its port says which it is: it
// gets that image and its settings back.
TEST_F(StationTest, ADeviceInItsLoaderGetsTheTypeOfItsUnfinishedUpdateAndItsSettings)
{
    const std::string r7f = MakeFirmware("R7F-3-52.txt", "R7F", "3.52");
    const std::string jv = MakeFirmware("JV-3-90.txt", "JV", "3.90");
    StartSim({"--type", "JV", "--version", "3.80", "--sn", "JVL-001", "--fault", "power-loss=5"});
    const std::vector<std::string> settings = {Ask("get -sn"), Ask("get -contr"), Ask("get -units")};
    const CliRun failed = Update({"--firmware", jv});
    ASSERT_EQ(failed.exitCode, 5) << failed.out;
    StopSim();
    StartSim({"--type", "JV", "--version", "3.80"});  // its state: erased, in its loader

    const CliRun run = Station({Port()}, {"--firmware", r7f, "--firmware", jv, "--count", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(Ask("get -ver"), "JV 3.90");
    EXPECT_EQ((std::vector<std::string>{Ask("get -sn"), Ask("get -contr"), Ask("get -units")}), settings);
}

// A fixed serial port: the port stays and the devices are swapped behind it.
// One that no longer answers is gone; the next one that answers is updated,
// also when it answers before the station looked again: it is another device.
TEST_F(StationTest, OnAPortThatStaysADeviceThatNoLongerAnswersIsGoneAndTheNextIsUpdated)
{
    const std::string& port = Tray("R7F", 2, {"--version", "3.51", "--keep-port", "--gap", "500"});
    const CliRun run = Station({port}, {"--demo-image", "--count", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Totals: 2 done, 0 failed")) << run.out;
    const auto history = History();
    ASSERT_EQ(history.size(), 2u);
    for (const auto& line : history)
        EXPECT_EQ(line["result"], 1) << line.dump();
}

// Unfinished updates of two types: the type of a device in its loader would
// be a guess. Without a terminal it is left untouched; at the terminal the
// person picks its settings file, and with it the firmware it gets.
TEST_F(StationTest, ALoaderDeviceThatMayBeOfTwoTypesIsAskedAboutAtTheTerminal)
{
    const std::string r7f = MakeFirmware("R7F-3-52.txt", "R7F", "3.52");
    const std::string jv = MakeFirmware("JV-3-90.txt", "JV", "3.90");
    const std::string jvPort = Port();
    const std::string jvState = dir_ + "/jv.state";
    StartSim({"--type", "JV", "--version", "3.80", "--sn", "JVL-002", "--fault", "power-loss=5"});
    const std::vector<std::string> settings = {Ask("get -sn"), Ask("get -contr"), Ask("get -units")};
    ASSERT_EQ(Update({"--firmware", jv}).exitCode, 5);
    StopSim();
    fs::copy_file(state_, jvState);
    // A Hydrova left in its loader on another port.
    NewDevice();
    MovePort();
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "power-loss=5"});
    ASSERT_EQ(Update({"--firmware", r7f}).exitCode, 5);
    StopSim();

    fs::copy_file(jvState, state_, fs::copy_options::overwrite_existing);
    MovePort(jvPort);
    StartSim({"--type", "JV", "--version", "3.80"});
    const std::vector<std::string> station = {"station", "--data-dir", dir_, "--port", jvPort, "--firmware", r7f,
                                              "--firmware", jv, "--count", "1"};
    const CliRun untouched = RunCli(station);
    EXPECT_EQ(untouched.exitCode, 2) << untouched.out;
    EXPECT_TRUE(Contains(untouched.out, "there is no terminal to ask which")) << untouched.out;
    EXPECT_EQ(History().back()["result"], -123);

    CliRunOptions terminal;
    terminal.terminal = true;
    terminal.askText = "or Enter to leave the device untouched: ";
    terminal.answer = "1";
    const CliRun asked = RunCli(station, terminal);
    EXPECT_EQ(asked.exitCode, 0) << asked.out;
    EXPECT_TRUE(Contains(asked.out, "  1. JT5 Pro: " + dir_ + "/JT5 Pro.settings.txt")) << asked.out;
    EXPECT_TRUE(Contains(asked.out, "  2. Hydrova Series 3: ")) << asked.out;
    EXPECT_EQ(Ask("get -ver"), "JV 3.90");
    EXPECT_EQ((std::vector<std::string>{Ask("get -sn"), Ask("get -contr"), Ask("get -units")}), settings);
    EXPECT_TRUE(fs::exists(SettingsFile())) << "the Hydrova's unfinished update waits for its own instrument";
}
