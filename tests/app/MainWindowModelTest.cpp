#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "InstrumentChoice.h"
#include "MainWindowModel.h"
#include "TestPlatform.h"
#ifndef _WIN32
#include "SimProcess.h"
#endif

namespace {

struct MemoryPreferences : Preferences {
    PreferenceValues Read() override { return values; }
    void Write(const PreferenceValues& v) override { values = v; }
    PreferenceValues values;
};

struct ScriptedUi : UpdateUi {
    void ShowStatus(const std::string&) override { if (onStatus) onStatus(); }
    void HideStatus() override {}
    void SetProgress(const Progress&) override {}
    void SetConnectText(const std::string&) override {}
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageKind) override
    {
        titles.push_back(title);
        lastText = text;
    }
    bool AskOkCancel(const std::string&, const std::string& title) override
    {
        asked.push_back(title);
        return answer;
    }
    void Beep(MessageKind) override { ++beeps; }
    void PumpEvents() override {}

    std::function<void()> onStatus;
    std::vector<std::string> titles, asked;
    std::string lastText;
    bool answer = true;
    int beeps = 0;
};

class ModelTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        model.reset();
        std::filesystem::remove_all(folder);
    }

    // Starts a window model with these switches and these ports on the computer.
    MainWindowModel& Start(std::vector<std::string> args, std::vector<std::string> ports)
    {
        model = std::make_unique<MainWindowModel>(prefs, ui);
        MainWindowModel::StartOptions options{std::move(args), folder, {}};
        options.listPorts = [ports](CommPortEntry* entries, int* count, bool) {
            int n = 0;
            for (; n < *count && n < static_cast<int>(ports.size()); ++n) {
                std::snprintf(entries[n].portName, sizeof entries[n].portName, "%s", ports[n].c_str());
                std::snprintf(entries[n].displayText, sizeof entries[n].displayText, "%s (USB)", ports[n].c_str());
            }
            *count = n;
            return n;
        };
        std::string error;
        EXPECT_TRUE(model->FormShow(options, &error)) << error;
        return *model;
    }

    std::string folder = std::string(::testing::TempDir()) + "kelo-model-" + std::to_string(::getpid());
    MemoryPreferences prefs;
    ScriptedUi ui;
    std::unique_ptr<MainWindowModel> model;
};

}  // namespace

TEST_F(ModelTest, StartUpSelectsTheStoredPortOrFallsBack)
{
    struct Case {
        const char* stored;  // nullptr: no preference
        std::vector<std::string> args, ports;
        int selected;
        std::string portName;
        bool startEnabled;
    };
    const Case cases[] = {
        {"ttyUSB1", {}, {"ttyUSB0", "ttyUSB1"}, 1, "ttyUSB1", true},
        {"ttyUSB7", {}, {"ttyUSB0", "ttyUSB1"}, 0, "ttyUSB0", true},  // stored port gone
        {nullptr, {}, {"ttyS0"}, 0, "ttyS0", true},
        {"ttyUSB1", {}, {}, 0, "", false},                           // no ports at all
        {"ttyUSB1", {"--port", "/dev/pts/9"}, {"ttyUSB1"}, 0, "/dev/pts/9", true},
        {nullptr, {"unknown", "--port=/dev/pts/4"}, {}, 0, "/dev/pts/4", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.portName);
        prefs.values = {false, false, c.stored != nullptr, c.stored ? c.stored : ""};
        MainWindowModel& m = Start(c.args, c.ports);
        EXPECT_EQ(m.SelectedPortItem(), c.selected);
        EXPECT_EQ(m.SelectedPort(), c.portName);
        EXPECT_EQ(m.GetControls().startEnabled, c.startEnabled);
        if (!c.startEnabled) {
            EXPECT_EQ(m.PortItems(), std::vector<std::string>{"No Comm Ports Found"});
        }
        m.FormClose();
        EXPECT_EQ(prefs.values.commPort, c.portName) << "the chosen port is written back, empty or not";
    }
}

TEST_F(ModelTest, SwitchesSetTheMenuItems)
{
    struct Case {
        std::vector<std::string> args;
        bool open, factoryItems;
    };
    const Case cases[] = {{{}, false, false}, {{"-rep"}, true, false}, {{"-factory"}, true, true},
                          {{"-REP", "rep"}, false, false}};
    for (const Case& c : cases) {
        const auto menu = Start(c.args, {"ttyS0"}).GetMenu();
        EXPECT_EQ(menu.openFirmwareEnabled, c.open);
        EXPECT_EQ(menu.replaceSerialVisible, c.factoryItems);
        EXPECT_EQ(menu.dontEraseVisible, c.factoryItems);
        EXPECT_EQ(menu.serialListVisible, c.factoryItems);
        EXPECT_FALSE(model->EraseWarningDue()) << "this build's target has no data-erase warning";
    }
}

TEST_F(ModelTest, LabelsAndPreferences)
{
    prefs.values = {true, true, true, "ttyUSB1"};
    MainWindowModel& m = Start({}, {"ttyUSB0", "ttyUSB1"});
    const auto& labels = m.GetLabels();
    EXPECT_EQ(labels.caption, "Hydrova Series 3 Firmware Updater");
    EXPECT_EQ(labels.userText1, "This utility updates Hydrova Series 3 firmware to");
    EXPECT_EQ(labels.userText2, "Series 7F 3.52");
    EXPECT_EQ(labels.commLabel, "Connect to Hydrova Series 3 with Comm Port");
    EXPECT_EQ(labels.connectText, "Connect Hydrova Series 3 to computer comm port.");
    EXPECT_TRUE(m.GetMenu().verboseChecked && m.GetMenu().findAllChecked);
    EXPECT_EQ(m.State().log->Level(), 30u);
    m.ToggleVerboseLog();
    EXPECT_EQ(m.State().log->Level(), 1u) << "the log level changes at once";
    m.ToggleFindAllComms();
    m.PortPicked(0);
    m.PortListDropDown();
    EXPECT_EQ(m.SelectedPortItem(), 0);
    m.FormClose();
    EXPECT_FALSE(prefs.values.verboseLog || prefs.values.findAllComms);
    EXPECT_EQ(prefs.values.commPort, "ttyUSB0");
    EXPECT_FALSE(std::filesystem::exists(folder + "/Hydrova Series 3 Firmware Updater.errors.txt"))
        << "an empty log is deleted at close";
}

TEST_F(ModelTest, DemonstrationImageIsNamedAndAskedAboutBeforeStart)
{
    MainWindowModel& m = Start({}, {"ttyS0"});
    const bool demo = BuiltInImageIsDemo();
    EXPECT_EQ(m.GetLabels().demoNotice.empty(), !demo);
    ui.answer = false;
    EXPECT_EQ(m.StartClicked(), !demo) << "Cancel keeps the demonstration image off the device";
    EXPECT_EQ(m.UpdateFirmwareClicked(), !demo);
    EXPECT_EQ(ui.asked.size(), demo ? 2u : 0u);
    if (demo) {
        EXPECT_TRUE(m.GetControls().startEnabled && m.GetControls().closeEnabled);
    }
}

TEST_F(ModelTest, FirmwareFileOfAnotherTypeChangesLabelsButNotTheCaption)
{
    MainWindowModel& m = Start({"-rep"}, {"ttyS0"});
    const std::string bad = folder + "/broken.txt";
    std::FILE* f = std::fopen(bad.c_str(), "w");
    std::fputs("@zz\nnot firmware\n", f);
    std::fclose(f);
    EXPECT_LT(m.OpenFirmwareFile(bad), 0);
    EXPECT_EQ(ui.titles.back(), "File Error");
    EXPECT_EQ(m.GetLabels().userText2, "Series 7F 3.52") << "a bad file changes nothing";
    // A file refused unread is said in words, not as a code.
    EXPECT_LT(m.OpenFirmwareFile(folder), 0);
    EXPECT_EQ(ui.lastText, "The file \"" + std::filesystem::path(folder).filename().string() +
                               "\" is a folder, not a file.\nPlease choose a firmware file to open.");

#ifdef _WIN32
    GTEST_SKIP() << "the rest needs mkfirmware, a program of the Linux build";
#endif
    const std::string good = folder + "/JV-1-05.txt";
    const std::string make = std::string(KELO_BINARY_DIR) +
                             "/sim/mkfirmware/mkfirmware --type JV --version 1.05 --image-chars 4010 -o '" + good + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_GE(m.OpenFirmwareFile(good), 0);
    const auto& labels = m.GetLabels();
    EXPECT_EQ(labels.userText1, "This utility updates JT5 Pro firmware to");
    EXPECT_EQ(labels.commLabel, "Connect to JT5 Pro with Comm Port");
    EXPECT_EQ(labels.connectText, "Connect JT5 Pro to computer comm port.");
    EXPECT_EQ(labels.caption, "Hydrova Series 3 Firmware Updater");
    EXPECT_NE(m.State().settingsFilePath.find("JT5 Pro.settings.txt"), std::string::npos);
    EXPECT_TRUE(labels.demoNotice.empty()) << "a firmware file is no demonstration image";
    EXPECT_EQ(ui.beeps, 1);
}

TEST_F(ModelTest, QuitDuringAnUpdateOnlyWarnsAndControlsEndReady)
{
    MainWindowModel& m = Start({"-factory"}, {"/nonexistent/kelo-port"});
    m.ToggleReplaceSerialNumber();
    EXPECT_TRUE(m.GetControls().newSerialVisible);
    std::vector<bool> answers;
    ui.onStatus = [&] {
        if (!answers.empty())
            return;
        answers = {m.ConfirmQuit(), m.CloseClicked(), m.UpdateFirmwareClicked()};
        EXPECT_FALSE(m.GetMenu().openFirmwareEnabled) << "no new image under a running update";
        EXPECT_EQ(m.StartTimerFired(), 0) << "a second update must not start inside the first";
    };
    ASSERT_TRUE(m.StartClicked());
    EXPECT_FALSE(m.GetControls().startEnabled || m.GetControls().closeEnabled || m.GetMenu().updateFirmwareEnabled);
    EXPECT_EQ(m.StartTimerFired(), -20);
    EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(ui.titles, (std::vector<std::string>{"Don't Quit Now!", "Don't Quit Now!", "Connection Error"}));
    EXPECT_TRUE(m.State().keepGoing) << "the update went on";

    const auto& controls = m.GetControls();
    EXPECT_TRUE(controls.startEnabled && controls.closeEnabled && controls.closeIsDefault && controls.portListEnabled);
    EXPECT_FALSE(controls.startIsDefault || controls.newSerialVisible || m.GetMenu().replaceSerialChecked);
    EXPECT_TRUE(m.GetMenu().updateFirmwareEnabled);
    EXPECT_TRUE(m.ConfirmQuit()) << "no update: quit at once";
    EXPECT_FALSE(m.State().keepGoing);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A list with no number left (or no list at all) stops at Start before the
// device is touched, and says what to do.
TEST_F(ModelTest, ASerialNumberListWithNoneLeftStopsBeforeTheDeviceIsTouched)
{
    MainWindowModel& m = Start({"-factory"}, {"/nonexistent/kelo-port"});
    EXPECT_FALSE(m.UseSerialNumberList(folder + "/missing.txt"));
    EXPECT_FALSE(m.GetMenu().serialListChecked || m.GetControls().newSerialVisible);
    const std::string list = folder + "/numbers.txt";
    std::ofstream(list, std::ios::binary) << "# none yet\n";
    ASSERT_TRUE(m.UseSerialNumberList(list));
    EXPECT_EQ(m.NewSerialNumber(), "");
    EXPECT_EQ(m.GetLabels().newSerialLabel, "New Serial Number from numbers.txt: none left");

    bool touched = false;
    ui.onStatus = [&] { touched = true; };
    ASSERT_TRUE(m.StartClicked());
    EXPECT_EQ(m.StartTimerFired(), 0);
    EXPECT_FALSE(touched) << "the update began";
    EXPECT_EQ(ui.titles, (std::vector<std::string>{"Serial Number List", "Serial Number List"}));
    EXPECT_NE(ui.lastText.find("no serial numbers left in " + list), std::string::npos) << ui.lastText;
    const auto& controls = m.GetControls();
    EXPECT_TRUE(controls.startEnabled && controls.startIsDefault && controls.closeEnabled && controls.portListEnabled);
    EXPECT_EQ(ReadAll(list), "# none yet\n");
}

#ifndef _WIN32
// Factory mode with a list of two numbers: the box shows the first before
// Start, the instrument gets it, the list records it used and the box then
// shows the second, for the next instrument.
TEST_F(ModelTest, FactoryUpdateTakesItsSerialNumberFromAList)
{
    // A JT5 Pro: this build's own type keeps no serial number.
    const std::string state = folder + "-sim.state";
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--type", "JV", "--version", "3.80", "--state", state}));
    MainWindowModel& m = Start({"-factory", "--port", sim.Path()}, {});
    const std::string firmware = folder + "/JV-3-90.txt";
    const std::string make = std::string(KELO_BINARY_DIR) +
                             "/sim/mkfirmware/mkfirmware --type JV --version 3.90 --image-chars 4010 -o '" + firmware + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_GE(m.OpenFirmwareFile(firmware), 0);
    const std::string list = folder + "/numbers.txt";
    std::ofstream(list, std::ios::binary) << "KL-0001\nKL-0002\n";
    ASSERT_TRUE(m.UseSerialNumberList(list));
    EXPECT_TRUE(m.GetMenu().replaceSerialChecked && m.GetMenu().serialListChecked);
    EXPECT_TRUE(m.GetControls().newSerialVisible && m.GetControls().newSerialReadOnly);
    EXPECT_EQ(m.NewSerialNumber(), "KL-0001");
    EXPECT_EQ(m.GetLabels().newSerialLabel, "New Serial Number from numbers.txt");
    m.SetNewSerialNumber("typed");
    EXPECT_EQ(m.NewSerialNumber(), "KL-0001") << "the box is read-only while a list is in use";

    ASSERT_TRUE(m.StartClicked());
    EXPECT_EQ(m.StartTimerFired(), 1) << ui.lastText;
    EXPECT_EQ(m.NewSerialNumber(), "KL-0002");
    EXPECT_TRUE(m.GetControls().newSerialVisible && m.GetMenu().replaceSerialChecked);
    const std::string text = ReadAll(list);
    EXPECT_EQ(text.rfind("KL-0001\tused ", 0), 0u) << text;
    EXPECT_NE(text.find("\nKL-0002\n"), std::string::npos) << text;
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_NE(ReadAll(state).find("\nsn\tKL-0001\n"), std::string::npos) << "the instrument does not carry it";
    std::filesystem::remove(state);

    // "Replace Serial Number" off stops using the list; on again, a number is typed.
    m.ToggleReplaceSerialNumber();
    EXPECT_FALSE(m.GetMenu().serialListChecked || m.GetControls().newSerialVisible);
    m.ToggleReplaceSerialNumber();
    EXPECT_FALSE(m.GetControls().newSerialReadOnly);
    EXPECT_EQ(m.NewSerialNumber(), "");
    EXPECT_EQ(m.GetLabels().newSerialLabel, "New Serial Number");
}
#endif

// The window's status line gains the firmware write's time left, and only
// while the write has some.
TEST(WindowStatus, ShowsTheTimeLeftOfTheWriteOnly)
{
    MemoryPreferences prefs;
    ScriptedUi ui;
    MainWindowModel model(prefs, ui);
    struct Row {
        const char* status;
        std::optional<double> eta;
        const char* line;
    } rows[] = {
        {"Erasing firmware memory...", std::nullopt, "Erasing firmware memory..."},  // rate not known yet
        {"Uploading new firmware code...", 64.2, "Uploading new firmware code... (01:05 left)"},
        {"Uploading new firmware code...", 0.4, "Uploading new firmware code... (00:01 left)"},
        {"Restarting the Hydrova Series 3, please wait...", 0.0, "Restarting the Hydrova Series 3, please wait..."},
    };
    for (const Row& row : rows) {
        model.StatusShown(row.status);
        model.ProgressShown(Progress{50, 10.0, row.eta, 1000.0});
        EXPECT_EQ(model.StatusLine(), row.line);
    }
    // A new status keeps the time left the last progress gave.
    EXPECT_TRUE(model.ProgressShown(Progress{50, 11.0, 125.0, 1000.0}));
    model.StatusShown("Uploading new firmware code...");
    EXPECT_EQ(model.StatusLine(), "Uploading new firmware code... (02:05 left)");
}

TEST(InstrumentChoice, RowsNameEachCandidateInLocalTimeAndOkNeedsAPick)
{
    const char* oldZone = std::getenv("TZ");
    const std::string savedZone = oldZone ? oldZone : "";
    SetEnvironment("TZ", "PST8");
    ::tzset();
    std::tm fields{};
    fields.tm_year = 2026 - 1900;
    fields.tm_mon = 11;
    fields.tm_mday = 8;
    fields.tm_hour = 9;
    fields.tm_min = 15;
    const std::time_t saved = FromUtcFields(&fields);
    const std::vector<SettingsCandidate> candidates = {
        {"WN-00931", saved, "/data/JT5 Pro.settings.txt", "/dev/ttyUSB0"},
        {"", saved, "/data/other.settings.txt", ""},
        {"WN\x05>7", 0, "/data/odd.settings.txt", "COM3"},
    };
    const std::vector<std::string> rows = instrument_choice::Rows(candidates);
    SetEnvironment("TZ", oldZone ? savedZone.c_str() : nullptr);
    ::tzset();
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "Serial number WN-00931, saved 2026-12-08 01:15, on /dev/ttyUSB0",
                        "No serial number, saved 2026-12-08 01:15, port not recorded",
                        "Serial number WN?>7, date not recorded, on COM3",
                        "None of these (update without its settings)",
                    }));

    // Rows 0-2 are the candidates, row 3 "None of these"; nothing selected or
    // a row past the list never answers for the person.
    struct Case {
        int row;
        bool canAccept;
        int answer;
    };
    const Case cases[] = {{0, true, 0},           {2, true, 2},           {3, true, kNoneOfThese},
                          {-1, false, kStopUpdate}, {4, false, kStopUpdate}};
    for (const Case& c : cases) {
        EXPECT_EQ(instrument_choice::CanAccept(c.row, candidates.size()), c.canAccept) << c.row;
        EXPECT_EQ(instrument_choice::Answer(c.row, candidates.size()), c.answer) << c.row;
    }
    EXPECT_FALSE(instrument_choice::CanAccept(instrument_choice::kNoSelection, candidates.size()));
}
