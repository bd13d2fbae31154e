// The fault matrix: kelosim's faults against the device types kelobsl-cli
// updates. Whatever a fault does to the first run,
//  (a) exit 0 only when the device then reports the new version and "Code Good!";
//  (b) a run that failed after the settings were saved leaves the settings file;
//  (c) a second run on the same device (its --state), without the fault, ends
//      with the new firmware and the settings the device had before the first run.
// Each test prints its table. Cells run a few at a time: an update spends most
// of its time waiting for the device to restart.
//
// Left out: the faults that make the device's starting state rather than
// break an update (blank-settings, which every rerun after an erase meets
// anyway; unnamed and bare-sn, the uninitialised device of the factory path;
// battery-text, refused before anything starts), those about the radio modem
// (relay-echo, no-radio, awake, wake-after) and bsl-version, which the host
// only logs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "CliFixture.h"

namespace fs = std::filesystem;

namespace {

using Settings = std::map<std::string, std::string>;

struct DeviceType {
    std::string word;        // kelosim --type and the version line's first word
    std::string name;        // the settings file is "<name>.settings.txt"
    std::string oldVersion;  // the device starts with this firmware
    std::string newVersion;  // written by the update (R7F: the built-in image)
    // The simulator's settings the update must carry over: the type's save
    // mask (loggers: as far as their firmware version has the feature).
    std::vector<std::string> keys;
};

const DeviceType kTypes[] = {
    {"R7F", "Hydrova Series 3", "3.51", "3.52", {"adccal", "config"}},
    {"TELSO", "Hydrova Lite", "1.20", "1.21", {"sn", "lang", "contr", "fvals", "uvals"}},
    {"JV", "JT5 Pro", "1.00", "1.05", {"sn", "contr", "units", "adc"}},
    {"WN", "Canopy Meter", "1.00", "1.05", {"sn", "contr", "fvals", "units"}},
    {"MERV", "Moistra IG", "1.00", "1.05", {"sn", "adccal"}},
    {"QX70", "Qx70", "1.20", "1.21",
     {"logger.name", "logger.sn", "logger.wake", "logger.padc", "logger.ports", "logger.adccal",
      "logger.rmode", "logger.rch", "logger.rsch"}},
    {"QX7B", "Qx7b", "1.20", "1.21",
     {"logger.name", "logger.sn", "logger.wake", "logger.padc", "logger.ports"}},
    {"KS", "HubTerminal", "1.10", "1.11",
     {"logger.name", "logger.sn", "logger.data", "logger.rch", "logger.rsch"}},
};

const DeviceType& TypeOf(const std::string& word)
{
    for (const DeviceType& t : kTypes)
        if (t.word == word)
            return t;
    throw std::invalid_argument("no device type " + word);
}

// What happens to the pending settings file between the two runs.
enum class Between { Nothing, CutFile };

struct Cell {
    std::string type;
    std::vector<std::string> faults;  // kelosim --fault values, first run only
    int firstExit = -1;               // the first run's exit code where the fault must not change it
    Between between = Between::Nothing;
    // The settings are gone (a cut file): the second run must fail and keep
    // the file. Otherwise it must end with everything back.
    bool cannotRecover = false;
};

struct Outcome {
    int firstExit = -1;
    int secondExit = -1;
    bool saved = false;   // the first run went past the settings save
    bool failed = false;  // the first run failed or reported an error
    bool kept = false;    // the settings file was there after the first run
    bool keptAfterSecond = false;  // the settings file was still there after the second run
    Settings firstAfter;           // the device's settings after the first run
    std::string firstVersion, firstPost;    // asked after the first run (fault still on)
    std::string secondVersion, secondPost;  // asked after the second run
    Settings before, after;
    std::string firstOut, secondOut;
    std::string error;  // the simulator did not start
};

std::string Join(const std::vector<std::string>& parts)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : ",") + p;
    return out.empty() ? "none" : out;
}

// The settings section of a kelosim state file ("settings N", then N lines
// of key TAB value), restricted to keys. Escapes are left as they stand: the
// comparison only needs equal texts.
Settings ReadSettings(const std::string& stateFile, const std::vector<std::string>& keys)
{
    std::ifstream in(stateFile, std::ios::binary);
    std::string line;
    std::size_t count = 0;
    while (std::getline(in, line) && std::sscanf(line.c_str(), "settings %zu", &count) != 1) {
    }
    Settings all;
    for (std::size_t i = 0; i < count && std::getline(in, line); ++i) {
        std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            all[line.substr(0, tab)] = line.substr(tab + 1);
    }
    Settings kept;
    for (const std::string& key : keys)
        kept[key] = all.count(key) ? all[key] : "<missing>";
    return kept;
}

// One cell: a simulated device of its own in a folder of its own.
class MatrixCell {
public:
    MatrixCell(const Cell& cell, std::string dir) : cell_(cell), type_(TypeOf(cell.type)), dir_(std::move(dir))
    {
        fs::create_directories(dir_);
        state_ = dir_ + "/device.state";
        // A fixed name for the port, as a by-id name is: the device restarts
        // between the runs on a pseudo-terminal of another number. Short, as
        // earlier builds refused port names of 64 characters and more.
        static std::atomic<int> cells{0};
        link_ = std::string(::testing::TempDir()) + "km" + std::to_string(::getpid()) + "-" + std::to_string(++cells);
    }

    Outcome Run()
    {
        Outcome o = RunBothUpdates();
        o.error = error_;
        return o;
    }

private:
    Outcome RunBothUpdates()
    {
        Outcome o;
        std::vector<std::string> updateArgs = {"--data-dir", dir_};
        if (type_.word == "R7F")
            updateArgs.push_back("--demo-image");  // the built-in image is the demonstration image
        else
            updateArgs.insert(updateArgs.end(), {"--firmware", MakeFirmware()});

        if (!Start(cell_.faults))
            return o;
        o.before = ReadSettings(state_, type_.keys);
        CliRun first = Update(updateArgs);
        o.firstExit = first.exitCode;
        o.firstOut = first.out;
        o.saved = first.out.find("Starting the firmware loader...") != std::string::npos;
        o.failed = first.exitCode != 0 || first.out.find(" Error ==") != std::string::npos;
        o.kept = fs::exists(PendingFile());
        // Restarted with its fault: what the device says after this run.
        Stop();
        o.firstAfter = ReadSettings(state_, type_.keys);
        if (cell_.between == Between::CutFile && o.kept)
            CutInHalf(PendingFile());
        if (!Start(cell_.faults))
            return o;
        o.firstVersion = AskDevice(sim_.Path(), "get -ver");
        o.firstPost = AskDevice(sim_.Path(), "post");
        Stop();

        if (!Start({}))
            return o;
        // The file left by the first run is what the device had before it;
        // after an erase the device's fresh reading is blank.
        updateArgs.insert(updateArgs.end(), {"--settings-from", "saved"});
        CliRun second = Update(updateArgs);
        o.secondExit = second.exitCode;
        o.secondOut = second.out;
        o.keptAfterSecond = fs::exists(PendingFile());
        Stop();
        if (!Start({}))
            return o;
        o.secondVersion = AskDevice(sim_.Path(), "get -ver");
        o.secondPost = AskDevice(sim_.Path(), "post");
        Stop();  // writes the state file
        o.after = ReadSettings(state_, type_.keys);
        return o;
    }

    std::string PendingFile() const { return dir_ + "/" + type_.name + ".settings.txt"; }

    // What a host that died while writing leaves: the file's first half.
    static void CutInHalf(const std::string& path)
    {
        fs::resize_file(path, fs::file_size(path) / 2);
    }

    // Every start serves the same link, as a device stays on its port.
    bool Start(const std::vector<std::string>& faults)
    {
        std::vector<std::string> args = {"--type", type_.word, "--version", type_.oldVersion, "--state", state_,
                                         "--link", link_};
        for (const std::string& f : faults)
            args.insert(args.end(), {"--fault", f});
        return sim_.Start(args, &error_);
    }
    void Stop() { sim_.Stop(); }

    CliRun Update(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"update", "--port", link_});
        return RunCli(args);
    }

    std::string MakeFirmware() const
    {
        std::string version = type_.newVersion;
        version[version.find('.')] = '-';
        std::string path = dir_ + "/" + type_.word + "-" + version + ".txt";
        std::string command = std::string(KELO_BINARY_DIR) + "/sim/mkfirmware/mkfirmware --type " + type_.word +
                              " --version " + type_.newVersion + " --image-chars 4010 -o '" + path + "' >/dev/null";
        return std::system(command.c_str()) == 0 ? path : "<mkfirmware failed>";
    }

    const Cell& cell_;
    const DeviceType& type_;
    std::string dir_;
    std::string state_;
    std::string link_;
    SimProcess sim_;
    std::string error_;
};

class FaultMatrix : public ::testing::Test {
protected:
    // Runs the cells three at a time, checks the invariants and prints the table.
    void RunMatrix(const std::vector<Cell>& cells)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string base =
            std::string(::testing::TempDir()) + "kelo-matrix-" + info->name() + "-" + std::to_string(::getpid());
        fs::remove_all(base);
        std::vector<Outcome> outcomes(cells.size());
        std::atomic<std::size_t> next{0};
        auto worker = [&] {
            for (std::size_t i = next++; i < cells.size(); i = next++) {
                MatrixCell cell(cells[i], base + "/" + std::to_string(i) + "-" + cells[i].type);
                outcomes[i] = cell.Run();
            }
        };
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back(worker);
        for (std::thread& t : threads)
            t.join();

        std::ostringstream table;
        table << std::left << std::setw(24) << "fault" << std::setw(7) << "type" << std::setw(6) << "exit"
              << std::setw(16) << "settings kept" << std::setw(7) << "rerun" << "recovered\n";
        for (std::size_t i = 0; i < cells.size(); ++i)
            table << Check(cells[i], outcomes[i]) << "\n";
        std::cout << table.str();
        if (!HasFailure())
            fs::remove_all(base);
    }

    // One table line; every invariant a cell breaks is a test failure.
    std::string Check(const Cell& cell, const Outcome& o)
    {
        const std::string newLine = TypeOf(cell.type).word + " " + TypeOf(cell.type).newVersion;
        const std::string what = Join(cell.faults) + " on " + cell.type;
        EXPECT_EQ(o.error, "") << what;
        if (cell.firstExit >= 0) {
            EXPECT_EQ(o.firstExit, cell.firstExit) << what << "\n" << o.firstOut;
        }
        for (const auto& [key, value] : o.before)
            EXPECT_NE(value, "<missing>") << what << ": the device had no " << key << " to keep";
        if (o.firstExit == 0) {
            EXPECT_EQ(o.firstVersion, newLine) << what << ": exit 0 without the new firmware\n" << o.firstOut;
            EXPECT_EQ(o.firstPost, "Code Good!") << what << ": exit 0 without good code\n" << o.firstOut;
            EXPECT_EQ(o.firstAfter, o.before) << what << ": exit 0 without every setting back\n" << o.firstOut;
        }
        if (cell.cannotRecover) {
            // Settings that are gone cannot come back; the run must say so and keep the file.
            EXPECT_NE(o.secondExit, 0) << what << "\n" << o.secondOut;
            EXPECT_TRUE(o.secondOut.find("incomplete") != std::string::npos) << what << "\n" << o.secondOut;
            EXPECT_TRUE(o.keptAfterSecond) << what << ": the settings file went\n" << o.secondOut;
            std::ostringstream line;
            line << std::left << std::setw(24) << Join(cell.faults) + "+cut" << std::setw(7) << cell.type
                 << std::setw(6) << o.firstExit << std::setw(16) << KeptText(o) << std::setw(7) << o.secondExit
                 << "refused";
            return line.str();
        }
        const bool mustKeep = o.saved && o.failed;
        EXPECT_TRUE(!mustKeep || o.kept) << what << ": failed after the save and lost the settings file\n"
                                          << o.firstOut;
        const bool recovered = o.secondExit == 0 && o.secondVersion == newLine && o.secondPost == "Code Good!" &&
                               o.after == o.before;
        EXPECT_EQ(o.secondExit, 0) << what << ": the second run failed\n" << o.secondOut;
        EXPECT_EQ(o.secondVersion, newLine) << what;
        EXPECT_EQ(o.secondPost, "Code Good!") << what;
        EXPECT_EQ(o.after, o.before) << what << ": the settings did not survive\n" << o.firstOut << o.secondOut;

        std::ostringstream line;
        line << std::left << std::setw(24) << Join(cell.faults) << std::setw(7) << cell.type << std::setw(6)
             << o.firstExit << std::setw(16) << KeptText(o) << std::setw(7)
             << o.secondExit << (recovered ? "yes" : "NO");
        return line.str();
    }

    static const char* KeptText(const Outcome& o)
    {
        if (!o.saved)
            return "-";  // nothing saved: nothing to keep
        if (o.kept)
            return "yes";
        return o.failed ? "LOST" : "no (done)";
    }
};

}  // namespace

// A power loss in the erase leaves every type in its loader with its settings
// gone: the rerun must restore them from the file, through each type's own
// settings file and restore.
TEST_F(FaultMatrix, PowerLossInTheEraseOnEveryType)
{
    std::vector<Cell> cells;
    for (const DeviceType& t : kTypes)
        cells.push_back({t.word, {"power-loss=40"}});
    RunMatrix(cells);
}

// The loader and its host side are the same for all types; the way into the
// loader differs between instruments and loggers. So each loader fault runs
// once, alternating between the two families.
TEST_F(FaultMatrix, LoaderFaults)
{
    RunMatrix({
        {"JV", {"bsl-late=3"}, 0},  // a piece answered after the host's time-out: no failure
        {"KS", {"power-loss=124"}},  // in the upload of a mkfirmware image
        {"TELSO", {"bsl-refuse=5"}},
        {"QX70", {"bsl-drop=300"}},
        {"WN", {"bsl-corrupt=300"}},
        {"QX7B", {"bsl-silent"}},
        {"MERV", {"no-bootloader"}},
        {"R7F", {"boot-error"}},
    });
}

// The cable pulled in the erase, the upload and the restore.
TEST_F(FaultMatrix, PulledCable)
{
    RunMatrix({
        {"JV", {"unplug=60"}},    // in the erase
        {"QX70", {"unplug=124"}},  // in the upload
        {"R7F", {"unplug-restore=1"}},
        {"TELSO", {"unplug-restore=2"}},
        {"KS", {"unplug-restore=2"}},
        {"QX7B", {"unplug-restore=0"}},  // as soon as the device restarts
    });
}

// Faults of the device's own interpreter: in the save, in the restore, in the
// new firmware's check and in the data erase.
TEST_F(FaultMatrix, InterpreterFaults)
{
    RunMatrix({
        {"R7F", {"unreadable=config"}},
        {"JV", {"unreadable=adc"}},
        {"TELSO", {"unwritable=lang"}},
        {"MERV", {"unwritable=adccal"}},
        {"WN", {"no-ok"}},
        {"JV", {"corrupt-firmware"}},
        {"MERV", {"version-line=MERV 1.00"}},  // still the old firmware after the restart
        {"WN", {"dataflash-fail"}},
        {"QX70", {"dataflash-fail"}},
        {"QX70", {"silent-after=6"}},
        {"QX7B", {"refuse=get -w"}},
        {"KS", {"refuse=set -rch"}},
        {"R7F", {"slow=300"}, 0},             // late, within the time-outs: read as they are
        {"R7F", {"slow=1500"}},               // later than the time-outs: stops before the erase
        {"MERV", {"frame-flip=sn:after"}},    // a garbled framing is never a value
        {"TELSO", {"frame-flip-once=fvals"}, 0},  // asked again, read right
        // Written back but not stored, or stored otherwise: only the read-back tells.
        {"R7F", {"set-garble=adccal"}, 7},
        {"JV", {"set-fail=contr"}, 7},
        {"KS", {"set-fail=rch"}, 7},
    });
}

// A host that died while writing the settings file leaves it cut short: the
// rerun must refuse it, name what it lacks and keep it, never restore half.
TEST_F(FaultMatrix, SettingsFileCutShort)
{
    RunMatrix({
        {"JV", {"power-loss=40"}, -1, Between::CutFile, true},
        {"QX70", {"power-loss=40"}, -1, Between::CutFile, true},
    });
}

namespace {

// Two JT5 Pro, JVA-001 and JVB-002, on two links with one data folder: the
// cables get swapped, two programs run at once. Whatever the runs do, no
// instrument may carry the other's serial number, and a run ends with exit 0
// only when every instrument it updated has its own settings back.
class TwoInstruments : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::string(::testing::TempDir()) + "kelo-two-" + std::string(info->name()).substr(0, 12) + "-" +
               std::to_string(::getpid());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        firmware_ = dir_ + "/JV-1-05.txt";
        const std::string make = std::string(KELO_BINARY_DIR) +
                                 "/sim/mkfirmware/mkfirmware --type JV --version 1.05 --image-chars 4010 -o '" +
                                 firmware_ + "' >/dev/null";
        ASSERT_EQ(std::system(make.c_str()), 0);
        for (int d = 0; d < 2; ++d) {
            ASSERT_TRUE(Start(d, d));
            Stop(d);
            before_[d] = ReadSettings(State(d), kKeys);
            ASSERT_EQ(before_[d]["sn"], kSn[d]);
        }
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir_);
    }

    std::string Link(int link) const { return dir_ + "/port" + std::to_string(link); }
    std::string State(int d) const { return dir_ + "/device" + std::to_string(d) + ".state"; }

    bool Start(int d, int link, const std::vector<std::string>& faults = {})
    {
        std::vector<std::string> args = {"--type", "JV", "--version", "1.00", "--sn", kSn[d],
                                         "--state", State(d), "--link", Link(link)};
        for (const std::string& f : faults)
            args.insert(args.end(), {"--fault", f});
        std::string error;
        const bool started = sim_[d].Start(args, &error);
        EXPECT_TRUE(started) << error;
        return started;
    }
    void Stop(int d) { sim_[d].Stop(); }

    CliRun Update(const std::vector<int>& links, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"update", "--firmware", firmware_, "--data-dir", dir_ + "/data", "--yes"};
        for (int link : links)
            args.insert(args.end(), {"--port", Link(link)});
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args);
    }

    // Stops both devices and checks the invariants after runs that updated
    // the devices in updated; what names the runs.
    void Check(const std::string& what, const std::vector<CliRun>& runs, std::vector<int> updated = {0, 1})
    {
        std::string outs;
        bool allZero = true;
        for (const CliRun& run : runs) {
            outs += run.out + "\n----\n";
            allZero = allZero && run.exitCode == 0;
        }
        for (int d = 0; d < 2; ++d) {
            Stop(d);
            const Settings now = ReadSettings(State(d), kKeys);
            EXPECT_NE(now.at("sn"), kSn[1 - d]) << what << ": " << kSn[d] << " got the other's settings\n" << outs;
            if (allZero && std::find(updated.begin(), updated.end(), d) != updated.end()) {
                EXPECT_EQ(now, before_[d]) << what << ": exit 0 without " << kSn[d] << "'s settings\n" << outs;
            }
        }
    }

    // The pending settings file that holds an instrument's serial number.
    std::string FileOf(int d) const
    {
        for (const auto& entry : fs::recursive_directory_iterator(dir_ + "/data")) {
            if (entry.path().string().find(".settings.txt") == std::string::npos || !entry.is_regular_file())
                continue;
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            if (entry.path().string().find("/archive/") == std::string::npos &&
                text.str().find("\"" + kSn[d] + "\"") != std::string::npos)
                return entry.path().string();
        }
        return {};
    }

    static inline const std::vector<std::string> kKeys = {"sn", "contr", "units", "adc"};
    static inline const std::string kSn[2] = {"JVA-001", "JVB-002"};
    std::string dir_, firmware_;
    SimProcess sim_[2];
    Settings before_[2];
};

}  // namespace

// USB renumbering swaps the ports of two instruments left in their loaders.
TEST_F(TwoInstruments, SwappedCablesNeverCrossACalibration)
{
    ASSERT_TRUE(Start(0, 0, {"unplug=124"}));
    ASSERT_TRUE(Start(1, 1, {"unplug=124"}));
    CliRun first = Update({0, 1});
    EXPECT_NE(first.exitCode, 0) << first.out;
    Check("the pulled cables", {first});

    ASSERT_TRUE(Start(0, 1));
    ASSERT_TRUE(Start(1, 0));
    CliRun swapped = Update({0, 1});
    // Neither device can say who it is, and each port's file is another's: asked, never guessed.
    EXPECT_EQ(swapped.exitCode, 2) << swapped.out;
    for (int link = 0; link < 2; ++link)
        EXPECT_TRUE(swapped.out.find("== Which Instrument? (" + Link(link) + ") ==") != std::string::npos)
            << swapped.out;
    Check("the swapped rerun", {swapped});

    // The person names each instrument's file: each gets its own.
    for (int d = 0; d < 2; ++d) {
        const std::string file = FileOf(d);
        ASSERT_NE(file, "") << "no settings file holds " << kSn[d];
        ASSERT_TRUE(Start(0, 1));
        ASSERT_TRUE(Start(1, 0));
        CliRun answered = Update({1 - d}, {"--settings-file", file});
        EXPECT_EQ(answered.exitCode, 0) << answered.out;
        Check("the answered rerun of " + kSn[d], {answered}, {d});
    }
}

// Two one-port programs at once on one data folder, one of them cut off in the upload.
TEST_F(TwoInstruments, TwoProgramsAtOnceKeepEachInstrumentsSettings)
{
    ASSERT_TRUE(Start(0, 0, {"unplug=124"}));
    ASSERT_TRUE(Start(1, 1));
    CliRun runs[2];
    std::thread other([&] { runs[1] = Update({1}); });
    runs[0] = Update({0});
    other.join();
    for (const CliRun& run : runs) {
        // A program that found the file taken stops untouched, naming the other update.
        if (run.exitCode == 1) {
            EXPECT_TRUE(run.out.find("Another update running now uses the settings file ") != std::string::npos)
                << run.out;
            EXPECT_TRUE(run.out.find("Saving settings") == std::string::npos) << run.out;
        }
    }
    Check("two programs at once", {runs[0], runs[1]});

    for (int d = 0; d < 2; ++d) {
        ASSERT_TRUE(Start(d, d));
        CliRun again = Update({d});
        EXPECT_EQ(again.exitCode, 0) << again.out;
        Check("the rerun of " + kSn[d], {again}, {d});
    }
}
