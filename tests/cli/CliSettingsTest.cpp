// Settings across failed updates: the archive, "Settings Conflict", a restore
// that fails, restore-settings, and the check that the new firmware runs.
#include <filesystem>
#include <fstream>
#include <regex>

#include "CliFixture.h"

namespace fs = std::filesystem;

namespace {

class CliSettings : public CliFixture {
protected:
    void SetUp() override
    {
        CliFixture::SetUp();
        firmware_ = MakeFirmware("JV-1-05.txt", "JV", "1.05");
        settings_ = dir_ + "/JT5 Pro.settings.txt";
        archive_ = dir_ + "/archive/JT5 Pro";
    }
    // What a JT5 Pro keeps, as its interpreter reports it.
    std::vector<std::string> DeviceSettings()
    {
        return {Ask("get -sn"), Ask("get -contr"), Ask("get -units"), Ask("get -adc")};
    }
    // A JT5 Pro that the first update erased and left with firmware that
    // fails its check: the settings file stays behind.
    void LeaveSettingsFile(const std::string& sn)
    {
        StartSim({"--type", "JV", "--version", "1.00", "--sn", sn, "--fault", "corrupt-firmware"});
        original_ = DeviceSettings();
        CliRun first = Update({"--firmware", firmware_});
        ASSERT_EQ(first.exitCode, 5) << first.out;
        ASSERT_TRUE(fs::exists(settings_)) << first.out;
        StopSim();
    }
    // Names in the archive that match a pattern.
    int Archived(const std::string& pattern) const
    {
        int count = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(archive_, ec))
            count += std::regex_match(entry.path().filename().string(), std::regex(pattern));
        return count;
    }

    // Settings files and records of unfinished updates in the data folder.
    int Pending() const
    {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            count += name.find(".settings.txt") != std::string::npos && entry.path().extension() != ".lock";
        }
        return count;
    }

    std::string firmware_;
    std::string settings_;
    std::string archive_;
    std::vector<std::string> original_;
};

}  // namespace

TEST_F(CliSettings, ARetryAfterAnEraseNeverOverwritesTheSavedSettings)
{
    LeaveSettingsFile("JT5-A");
    EXPECT_EQ(Archived("JT5-A-[0-9]{8}T[0-9]{6}Z\\.settings\\.txt"), 1) << "every save is archived";
    const std::string saved = ReadFile(settings_);

    // Back on its firmware with blank settings: only --settings-from answers.
    StartSim({"--type", "JV", "--version", "1.00", "--sn", "JT5-A"});
    ASSERT_NE(DeviceSettings(), original_);
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--yes"}}) {
        std::vector<std::string> args = {"--firmware", firmware_};
        args.insert(args.end(), extra.begin(), extra.end());
        CliRun unanswered = Update(args);
        EXPECT_EQ(unanswered.exitCode, 2) << unanswered.out;
        EXPECT_TRUE(Contains(unanswered.out, "== Settings Conflict ==")) << unanswered.out;
        EXPECT_TRUE(Contains(unanswered.out, "--settings-from saved") &&
                    Contains(unanswered.out, "--settings-from device") && Contains(unanswered.out, settings_))
            << unanswered.out;
        EXPECT_FALSE(Contains(unanswered.out, "Erasing firmware memory")) << unanswered.out;
        EXPECT_EQ(ReadFile(settings_), saved);
    }

    CliRun restored = Update({"--firmware", firmware_, "--settings-from", "saved"});
    EXPECT_EQ(restored.exitCode, 0) << restored.out;
    EXPECT_EQ(DeviceSettings(), original_);
    EXPECT_FALSE(fs::exists(settings_));
    EXPECT_EQ(Archived("JT5-A-.*"), 1) << "the archive keeps the first save";
}

// Another instrument's unfinished update keeps its file: this one's settings
// take a free name for the update and go when they are back.
TEST_F(CliSettings, AnotherInstrumentsUnfinishedUpdateKeepsItsFile)
{
    LeaveSettingsFile("JT5-A");
    const std::string saved = ReadFile(settings_);
    NewDevice();
    StartSim({"--type", "JV", "--version", "1.00", "--sn", "JT5-B"});
    CliRun run = Update({"--firmware", firmware_, "--verbose"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_FALSE(Contains(run.out, "Settings Conflict")) << run.out;
    EXPECT_EQ(Ask("get -sn"), "JT5-B");
    EXPECT_EQ(Archived("JT5-A-.*"), 1) << "the first save only";
    EXPECT_EQ(Archived("JT5-B-.*"), 1);
    EXPECT_EQ(ReadFile(settings_), saved);
    EXPECT_FALSE(fs::exists(dir_ + "/JT5 Pro (2).settings.txt"));
    EXPECT_TRUE(Contains(ReadFile(dir_ + "/Hydrova Series 3 Firmware Updater.errors.txt"),
                         "this JT5 Pro's settings are saved as " + dir_ + "/JT5 Pro (2).settings.txt"));

    // The history tells the two instruments apart, each with its own archived settings.
    const std::vector<nlohmann::json> history = History();
    ASSERT_EQ(history.size(), 2u);
    const std::string sn[] = {"JT5-A", "JT5-B"};
    for (std::size_t i = 0; i < history.size(); ++i) {
        SCOPED_TRACE(history[i].dump());
        EXPECT_EQ(history[i].value("serialNumber", ""), sn[i]);
        EXPECT_EQ(history[i].value("result", 0) == 1, i == 1) << "the first update failed its firmware check";
        EXPECT_EQ(history[i].value("settingsArchive", "").rfind(archive_ + "/" + sn[i] + "-", 0), 0u);
    }
}

TEST_F(CliSettings, AFailedRestoreKeepsTheFileAndExitsSeven)
{
    const struct {
        const char* fault;
        std::vector<std::string> extra;
        std::vector<const char*> says;
    } rows[] = {
        {"unwritable=contr",
         {},
         {"failed to restore some of the settings", "These settings did not go back: contr.",
          "settings were not (fully) restored: these settings did not go back: contr (-35)."}},
        {"unwritable=sn",
         {"--new-sn", "JT5-9", "--keep-data"},
         {"The serial number JT5-9 was not written",
          "settings were not (fully) restored: these settings did not go back: sn (-35)."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        NewDevice();
        fs::remove(settings_);
        StartSim({"--type", "JV", "--version", "1.00", "--fault", row.fault});
        std::vector<std::string> args = {"--firmware", firmware_};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        CliRun run = Update(args);
        EXPECT_EQ(run.exitCode, 7) << run.out;
        for (const char* says : row.says)
            EXPECT_TRUE(Contains(run.out, says)) << run.out;
        EXPECT_TRUE(Contains(run.out, "The settings file is kept")) << run.out;
        EXPECT_TRUE(fs::exists(settings_));
        EXPECT_EQ(Ask("get -ver"), "JV 1.05");
    }
}

TEST_F(CliSettings, AFileLeftByAnEarlierRunIsNamedWhenTheLoaderGetsIt)
{
    StartSim({"--type", "JV", "--version", "1.00", "--sn", "JT5-A", "--fault", "power-loss=5"});
    original_ = DeviceSettings();
    CliRun first = Update({"--firmware", firmware_});
    ASSERT_EQ(first.exitCode, 5) << first.out;
    StopSim();

    StartSim({"--type", "JV", "--version", "1.00"});
    CliRun second = Update({"--firmware", firmware_});
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_TRUE(std::regex_search(second.out, std::regex("Restoring settings from .*JT5 Pro\\.settings\\.txt "
                                                         "\\(saved [0-9-]+ [0-9:]+, serial number JT5-A\\)")))
        << second.out;
    std::string log = ReadFile(dir_ + "/Hydrova Series 3 Firmware Updater.errors.txt");
    EXPECT_TRUE(Contains(log, "serial number JT5-A)")) << log;
    EXPECT_EQ(DeviceSettings(), original_);
}

// A device in its loader cannot say who it is. Instrument B, updated in
// between, leaves A's unfinished update alone; A back on another port is
// asked about, --yes does not answer, and --settings-file restores it.
TEST_F(CliSettings, ALoaderDeviceOnAnotherPortIsAskedWhichInstrumentItIs)
{
    StartSim({"--type", "JV", "--version", "1.00", "--sn", "JVA-001", "--fault", "unplug=124"});
    original_ = DeviceSettings();
    CliRun first = Update({"--firmware", firmware_});
    ASSERT_EQ(first.exitCode, 5) << first.out;
    const std::string saved = ReadFile(settings_);
    StopSim();
    const std::string stateA = dir_ + "/a.state";
    fs::copy_file(state_, stateA);

    NewDevice();
    StartSim({"--type", "JV", "--version", "1.00", "--sn", "JVB-002"});
    CliRun other = Update({"--firmware", firmware_});
    EXPECT_EQ(other.exitCode, 0) << other.out;
    EXPECT_EQ(Ask("get -sn"), "JVB-002");
    EXPECT_EQ(ReadFile(settings_), saved) << "A's unfinished update keeps its file";
    EXPECT_EQ(Archived("JVA-001-.*"), 1) << "and it is not moved into the archive";
    StopSim();

    fs::copy_file(stateA, state_, fs::copy_options::overwrite_existing);
    MovePort();
    StartSim({"--type", "JV", "--version", "1.00"});
    CliRun asked = Update({"--firmware", firmware_, "--yes"});
    EXPECT_EQ(asked.exitCode, 2) << asked.out;
    for (const std::string& says :
         {std::string("== Which Instrument? =="), "  1. " + settings_, std::string("serial number JVA-001, saved "),
          std::string("Not answered (--yes does not answer this): stopped before anything was written."),
          std::string("Run again with --settings-file FILE"), std::string("--no-settings")})
        EXPECT_TRUE(Contains(asked.out, says)) << says << "\n" << asked.out;
    EXPECT_FALSE(Contains(asked.out, "Erasing firmware memory")) << asked.out;
    // At a terminal the question is asked; Enter stops before anything is written.
    CliRunOptions terminal;
    terminal.terminal = true;
    terminal.askText = "or Enter to stop: ";
    CliRun stopped = Update({"--firmware", firmware_}, terminal);
    EXPECT_EQ(stopped.exitCode, 2) << stopped.out;
    EXPECT_TRUE(Contains(stopped.out, "Type the number of its settings file (1), 2 to update it without settings"))
        << stopped.out;
    EXPECT_FALSE(Contains(stopped.out, "Erasing firmware memory")) << stopped.out;

    CliRun restored = Update({"--firmware", firmware_, "--settings-file", settings_});
    EXPECT_EQ(restored.exitCode, 0) << restored.out;
    EXPECT_EQ(DeviceSettings(), original_);
    EXPECT_FALSE(fs::exists(settings_)) << "the unfinished update is finished";
}

TEST_F(CliSettings, RestoreSettingsWritesAFileBackWithTheUpdatesChecks)
{
    StartSim({"--type", "JV", "--version", "1.00"});
    const std::string good = dir_ + "/good.settings.txt";
    const std::string other = dir_ + "/other.settings.txt";
    const char* header = "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n";
    std::ofstream(good, std::ios::binary) << header
                                          << "type=\"JV\"\r\nsn=\"JT5-777\"\r\ncontr=\"7\"\r\nunits=\"2\"\r\n"
                                             "adc=\"A7\"\r\n";
    std::ofstream(other, std::ios::binary) << header << "type=\"R7F\"\r\nadccal=\"1 2 3\"\r\nconfig=\"X\"\r\n";
    const std::vector<std::string> before = DeviceSettings();

    const std::string cut = dir_ + "/cut.settings.txt";
    std::ofstream(cut, std::ios::binary) << header << "type=\"JV\"\r\nsn=\"JT5-777\"\r\ncontr=\"7\"\r\n";
    for (const std::string& file : {other, cut}) {
        CliRun wrong = RunCli({"restore-settings", "--port", sim_.Path(), "--file", file, "--data-dir", dir_});
        EXPECT_EQ(wrong.exitCode, 2) << wrong.out;
        EXPECT_EQ(DeviceSettings(), before) << "nothing written from " << file;
    }

    CliRun run = RunCli({"restore-settings", "--port", sim_.Path(), "--file", good, "--data-dir", dir_});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "serial number JT5-777")) << run.out;
    EXPECT_EQ(DeviceSettings(), (std::vector<std::string>{"JT5-777", "7", "2", "A7"}));
    EXPECT_TRUE(fs::exists(good)) << "restore-settings never deletes its file";
}

TEST_F(CliSettings, TheNewFirmwareMustReportTheImagesTypeAndVersion)
{
    // An instrument that stays on its old firmware, and a JT5 Pro image
    // renamed to the Hydrova's name.
    const std::string renamed = MakeFirmware("R7F-3-52.txt", "JV", "1.05");
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> update;
        const char* reports;
    } rows[] = {
        {{"--fault", "version-line=R7F 3.51"}, {}, "now reports R7F 3.51 instead of R7F 3.52"},
        {{}, {"--firmware", renamed}, "now reports JV 1.05 instead of R7F 3.52"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reports);
        NewDevice();
        std::vector<std::string> sim = {"--type", "R7F", "--version", "3.51"};
        sim.insert(sim.end(), row.sim.begin(), row.sim.end());
        StartSim(sim);
        CliRun run = Update(row.update);
        EXPECT_EQ(run.exitCode, 5) << run.out;
        EXPECT_TRUE(Contains(run.out, "== Firmware Error ==") && Contains(run.out, row.reports)) << run.out;
        EXPECT_TRUE(fs::exists(SettingsFile()));
        fs::remove(SettingsFile());
    }
}

// A save that fails, or cannot be kept safe, stops before the erase. With a
// firmware file the person may go on ("Settings Retrieve Error"), but --yes
// answers that only for a device that named no settings: this one named its
// serial number.
TEST_F(CliSettings, AnUnreadableSettingStopsTheUpdateBeforeTheErase)
{
    MakeFirmware("R7F-3-52.txt", "R7F", "3.52");  // rep mode: "Settings Retrieve Error" may be asked
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> extra;
        const char* blocked;  // a file (or, ending in "/", a folder) where the updater writes
        int exit;
        std::string says;
        const char* version;
    } rows[] = {
        {{"--type", "R7F", "--version", "3.51", "--fault", "unreadable=adccal"}, {}, "", 5, "== Settings Error ==",
         "R7F 3.51"},
        {{"--type", "JV", "--version", "1.00", "--sn", "JT5-A", "--fault", "unreadable=contr"},
         {"--firmware", firmware_, "--yes"}, "", 2,
         "No terminal to ask, and --yes does not answer this: stopped before anything was erased.", "JV 1.00"},
        {{"--type", "R7F", "--version", "3.51"}, {}, "archive", 5,
         "could not be saved safely: its copy in the archive could not be written: cannot create ", "R7F 3.51"},
        {{"--type", "R7F", "--version", "3.51"}, {"--firmware", dir_ + "/R7F-3-52.txt", "--yes"},
         "Hydrova Series 3.settings.txt.new/", 5,
         "could not be saved safely: the settings file " + dir_ + "/Hydrova Series 3.settings.txt.new could not be "
         "written: a folder has that name (error 21)", "R7F 3.51"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sim[1]);
        NewDevice();
        fs::remove_all(dir_ + "/archive");
        fs::remove_all(dir_ + "/Hydrova Series 3.settings.txt.new");
        const std::string blocked = dir_ + "/" + row.blocked;
        if (*row.blocked && blocked.back() == '/')
            fs::create_directories(blocked);
        else if (*row.blocked)
            std::ofstream(blocked) << "not a folder";
        StartSim(row.sim);
        CliRun run = Update(row.extra);
        EXPECT_EQ(run.exitCode, row.exit) << run.out;
        EXPECT_TRUE(Contains(run.out, row.says)) << run.out;
        EXPECT_FALSE(Contains(run.out, "Erasing firmware memory")) << run.out;
        EXPECT_EQ(Ask("get -ver"), row.version);
        if (*row.blocked)
            fs::remove_all(blocked);
        EXPECT_EQ(Pending(), 0) << "no unfinished update was opened";
    }
}
