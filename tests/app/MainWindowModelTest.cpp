#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "MainWindowModel.h"

namespace {

class MemoryPreferences : public Preferences {
public:
    PreferenceValues Read() override { return values; }
    void Write(const PreferenceValues& v) override
    {
        values = v;
        ++writes;
    }
    PreferenceValues values;
    int writes = 0;
};

class ScriptedUi : public UpdateUi {
public:
    void ShowStatus(const std::string&) override
    {
        if (onStatus)
            onStatus();
    }
    void HideStatus() override {}
    void SetProgress(int) override {}
    void SetConnectText(const std::string&) override {}
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageKind) override
    {
        titles.push_back(title);
        lastText = text;
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return true; }
    void Beep(MessageKind) override { ++beeps; }
    void PumpEvents() override {}

    std::function<void()> onStatus;
    std::vector<std::string> titles;
    std::string lastText;
    int beeps = 0;
};

MainWindowModel::PortLister Ports(std::vector<std::string> names)
{
    return [names](CommPortEntry* entries, int* count, bool) {
        int n = 0;
        for (const auto& name : names) {
            if (n == *count)
                break;
            std::snprintf(entries[n].portName, sizeof entries[n].portName, "%s", name.c_str());
            std::snprintf(entries[n].displayText, sizeof entries[n].displayText, "%s (USB)", name.c_str());
            ++n;
        }
        *count = n;
        return n;
    };
}

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = std::string(::testing::TempDir()) + "kelo-model-" + std::to_string(::getpid());
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    bool Show(std::vector<std::string> args, std::vector<std::string> ports)
    {
        MainWindowModel::StartOptions options;
        options.arguments = std::move(args);
        options.dataFolder = folder;
        options.listPorts = Ports(std::move(ports));
        std::string error;
        return model.FormShow(options, &error);
    }

    std::string folder;
    MemoryPreferences prefs;
    ScriptedUi ui;
    MainWindowModel model{prefs, ui};
};

}  // namespace

TEST_F(ModelTest, StartUpSelectsTheStoredPortOrFallsBack)
{
    struct Case {
        const char* stored;  // nullptr: no preference
        std::vector<std::string> args;
        std::vector<std::string> ports;
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
        MemoryPreferences p;
        p.values.hasCommPort = c.stored != nullptr;
        p.values.commPort = c.stored ? c.stored : "";
        MainWindowModel m(p, ui);
        MainWindowModel::StartOptions options;
        options.arguments = c.args;
        options.dataFolder = folder;
        options.listPorts = Ports(c.ports);
        std::string error;
        ASSERT_TRUE(m.FormShow(options, &error)) << error;
        SCOPED_TRACE(c.portName);
        EXPECT_EQ(m.SelectedPortItem(), c.selected);
        EXPECT_EQ(m.State().commPortName, c.portName);
        EXPECT_EQ(m.GetControls().startEnabled, c.startEnabled);
        if (c.ports.empty() && c.args.empty()) {
            EXPECT_EQ(m.PortItems(), std::vector<std::string>{"No Comm Ports Found"});
        }
        m.FormClose();
        EXPECT_EQ(p.values.commPort, c.portName) << "the chosen port is written back, empty or not";
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
        MemoryPreferences p;
        MainWindowModel m(p, ui);
        MainWindowModel::StartOptions options{c.args, folder, Ports({"ttyS0"})};
        std::string error;
        ASSERT_TRUE(m.FormShow(options, &error));
        auto menu = m.GetMenu();
        EXPECT_EQ(menu.openFirmwareEnabled, c.open);
        EXPECT_EQ(menu.replaceSerialVisible, c.factoryItems);
        EXPECT_EQ(menu.dontEraseVisible, c.factoryItems);
        EXPECT_TRUE(menu.updateFirmwareEnabled);
        EXPECT_FALSE(m.EraseWarningDue()) << "this build's target has no data-erase warning";
    }
}

TEST_F(ModelTest, LabelsPreferencesAndPortRefresh)
{
    prefs.values = {true, true, true, "ttyUSB1"};
    ASSERT_TRUE(Show({}, {"ttyUSB0", "ttyUSB1"}));
    const auto& labels = model.GetLabels();
    EXPECT_EQ(labels.caption, "Hydrova Series 3 Firmware Updater");
    EXPECT_EQ(labels.applicationTitle, "Hydrova Series 3 Updater");
    EXPECT_EQ(labels.userText1, "This utility updates Hydrova Series 3 firmware to");
    EXPECT_EQ(labels.userText2, "Series 7F 3.52");
    EXPECT_EQ(labels.commLabel, "Connect to Hydrova Series 3 with Comm Port");
    EXPECT_EQ(labels.connectText, "Connect Hydrova Series 3 to computer comm port.");
    EXPECT_TRUE(model.GetMenu().verboseChecked);
    EXPECT_EQ(model.State().log->Level(), 30u);
    model.ToggleVerboseLog();
    EXPECT_EQ(model.State().log->Level(), 1u) << "the log level changes at once";
    model.ToggleFindAllComms();

    model.PortPicked(0);
    EXPECT_EQ(model.State().commPortName, "ttyUSB0");
    model.PortListDropDown();
    EXPECT_EQ(model.SelectedPortItem(), 0);
    model.FormClose();
    EXPECT_EQ(prefs.writes, 1);
    EXPECT_FALSE(prefs.values.verboseLog);
    EXPECT_FALSE(prefs.values.findAllComms);
    EXPECT_EQ(prefs.values.commPort, "ttyUSB0");
    EXPECT_FALSE(std::filesystem::exists(folder + "/Hydrova Series 3 Firmware Updater.errors.txt"))
        << "an empty log is deleted at close";
}

TEST_F(ModelTest, FirmwareFileOfAnotherTypeChangesLabelsButNotTheCaption)
{
    ASSERT_TRUE(Show({"-rep"}, {"ttyS0"}));
    std::filesystem::create_directories(folder);
    const std::string bad = folder + "/broken.txt";
    std::FILE* f = std::fopen(bad.c_str(), "w");
    std::fputs("@zz\nnot firmware\n", f);
    std::fclose(f);
    EXPECT_LT(model.OpenFirmwareFile(bad), 0);
    EXPECT_EQ(ui.titles.back(), "File Error");
    EXPECT_EQ(model.GetLabels().userText2, "Series 7F 3.52") << "a bad file changes nothing";

    const std::string good = folder + "/JV-1-05.txt";
    const std::string make = std::string(KELO_BINARY_DIR) + "/sim/mkfirmware/mkfirmware --type JV --version 1.05 "
                             "--image-chars 4010 -o '" + good + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_GE(model.OpenFirmwareFile(good), 0);
    const auto& labels = model.GetLabels();
    EXPECT_EQ(labels.userText1, "This utility updates JT5 Pro firmware to");
    EXPECT_EQ(labels.commLabel, "Connect to JT5 Pro with Comm Port");
    EXPECT_EQ(labels.connectText, "Connect JT5 Pro to computer comm port.");
    EXPECT_EQ(labels.caption, "Hydrova Series 3 Firmware Updater");
    EXPECT_NE(model.State().settingsFilePath.find("JT5 Pro.settings.txt"), std::string::npos);
    EXPECT_EQ(model.State().targetVersion, 105u);
    EXPECT_EQ(ui.beeps, 1);
}

TEST_F(ModelTest, QuitDuringAnUpdateOnlyWarnsAndControlsEndReady)
{
    ASSERT_TRUE(Show({"-factory"}, {"/nonexistent/kelo-port"}));
    model.ToggleReplaceSerialNumber();
    EXPECT_TRUE(model.GetControls().newSerialVisible);
    std::vector<bool> answers;
    ui.onStatus = [&] {
        if (answers.empty()) {
            answers.push_back(model.ConfirmQuit());
            answers.push_back(model.CloseClicked());
            answers.push_back(model.UpdateFirmwareClicked());
            EXPECT_FALSE(model.GetMenu().openFirmwareEnabled) << "no new image under a running update";
            EXPECT_EQ(model.StartTimerFired(), 0) << "a second update must not start inside the first";
        }
    };
    ASSERT_TRUE(model.StartClicked());
    EXPECT_FALSE(model.GetControls().startEnabled);
    EXPECT_FALSE(model.GetControls().closeEnabled);
    EXPECT_FALSE(model.GetMenu().updateFirmwareEnabled);
    EXPECT_EQ(model.StartTimerFired(), -20);
    EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(ui.titles, (std::vector<std::string>{"Don't Quit Now!", "Don't Quit Now!", "Connection Error"}));
    EXPECT_TRUE(model.State().keepGoing) << "the update went on";

    const auto& controls = model.GetControls();
    EXPECT_TRUE(controls.startEnabled && controls.closeEnabled && controls.closeIsDefault && controls.portListEnabled);
    EXPECT_FALSE(controls.startIsDefault || controls.newSerialVisible);
    EXPECT_FALSE(model.GetMenu().replaceSerialChecked);
    EXPECT_TRUE(model.GetMenu().updateFirmwareEnabled);

    EXPECT_TRUE(model.ConfirmQuit()) << "no update: quit at once";
    EXPECT_FALSE(model.State().keepGoing);
}
