// Updates that must stop, each with its own message and exit code.
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

#include "CliFixture.h"

namespace {
class CliFault : public CliFixture {};
}  // namespace

TEST_F(CliFault, WrongDeviceTypeAndTooOldFirmwareAreRefusedBeforeAnythingIsErased)
{
    StartSim({"--type", "JV", "--version", "1.00"});
    CliRun wrong = Update();
    EXPECT_EQ(wrong.exitCode, 4) << wrong.out;
    EXPECT_TRUE(Contains(wrong.out, "== Wrong Device ==")) << wrong.out;
    EXPECT_TRUE(Contains(wrong.out, "however, it found a JT5 Pro."));
    EXPECT_EQ(Ask("get -ver"), "JV 1.00");
    NewDevice();

    StartSim({"--type", "R7F", "--version", "3.50"});
    CliRun old = Update();
    EXPECT_EQ(old.exitCode, 4) << old.out;
    EXPECT_TRUE(Contains(old.out, "does not support your Hydrova Series 3\n running version 350.")) << old.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.50");
}

TEST_F(CliFault, FirmwareFileForAnotherTypeIsAWrongDevice)
{
    std::string firmware = MakeFirmware("JV-1-05.txt", "JV", "1.05");
    StartSim({"--type", "R7F", "--version", "3.51"});
    CliRun run = Update({"--firmware", firmware});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_TRUE(Contains(run.out, "expected to find a JT5 Pro;\nhowever, it found a Hydrova Series 3.")) << run.out;
    EXPECT_TRUE(Contains(run.out, "the firmware file JV-1-05.txt is for a JT5 Pro; the device on " + Port() +
                                      " is a Hydrova Series 3 (-121).\nLeave out --firmware to load the built-in "
                                      "Hydrova Series 3 firmware (R7F 3.52), or choose the firmware file for a "
                                      "Hydrova Series 3 (named like R7F-M-mp.txt)."))
        << run.out;
}

TEST_F(CliFault, BatteryBelowTenPercentOrUnreadableStopsAndTenPasses)
{
    std::string firmware = MakeFirmware("JV-1-05.txt", "JV", "1.05");
    // A level that is no level may be a flat battery: stop before the loader.
    for (const char* text : {"LOW", "-1", "101"}) {
        SCOPED_TRACE(text);
        StartSim({"--type", "JV", "--version", "1.00", "--fault", std::string("battery-text=") + text});
        CliRun unread = Update({"--firmware", firmware});
        EXPECT_EQ(unread.exitCode, 4) << unread.out;
        EXPECT_TRUE(Contains(unread.out, "could not be read (-131)")) << unread.out;
        EXPECT_FALSE(Contains(unread.out, "Starting the firmware loader")) << unread.out;
        NewDevice();
    }

    StartSim({"--type", "JV", "--version", "1.00", "--battery", "9"});
    CliRun low = Update({"--firmware", firmware});
    EXPECT_EQ(low.exitCode, 4) << low.out;
    EXPECT_TRUE(Contains(low.out, "== Batteries Too Low ==")) << low.out;
    EXPECT_TRUE(Contains(low.out, "Update failed: the battery is at 9%; the update needs at least 10% (-130)."));
    // A JT5 Pro update erases its measurements: said before anything happens.
    EXPECT_EQ(low.out.find("This update erases the measurements stored in the JT5 Pro: download them first, "
                           "or add --keep-data to keep them."),
              low.out.find('\n') + 1);
    NewDevice();

    StartSim({"--type", "JV", "--version", "1.00", "--battery", "10"});
    CliRun enough = Update({"--firmware", firmware, "--json"});
    EXPECT_EQ(enough.exitCode, 0) << enough.out;
    EXPECT_EQ(enough.out.rfind("{\"deviceName\":\"JT5 Pro\",\"deviceType\":7,\"deviceVersion\":\"1.00\","
                               "\"eraseData\":true,\"event\":\"start\"", 0), 0u) << enough.out;
    EXPECT_TRUE(Contains(enough.out.substr(0, enough.out.find('\n')), "\"serialNumber\":\"KS000123\""));
    EXPECT_EQ(Ask("get -ver"), "JV 1.05");
}

TEST_F(CliFault, LoaderMissingAndLoaderRefused)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "no-bootloader"});
    CliRun missing = Update();
    EXPECT_EQ(missing.exitCode, 4) << missing.out;
    EXPECT_TRUE(Contains(missing.out, "does not have a working firmware loader.\n\nPlease contact")) << missing.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.51") << "the firmware was left alone";
    NewDevice();

    // The firmware refuses to start its loader: "ERROR" on every try.
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "boot-error"});
    CliRun refused = Update();
    EXPECT_EQ(refused.exitCode, 3) << refused.out;
    EXPECT_TRUE(Contains(refused.out, "is unable to connect to the firmware loader in your Hydrova Series 3."))
        << refused.out;
}

TEST_F(CliFault, PortsThatDoNotExistOrAreTakenHaveTheirOwnMessages)
{
    CliRun none = RunCli({"update", "--port", "/dev/ttyKELO-missing", "--demo-image", "--data-dir", dir_});
    EXPECT_EQ(none.exitCode, 3) << none.out;
    EXPECT_TRUE(Contains(none.out, "Comm Port \"/dev/ttyKELO-missing\" isn't available.")) << none.out;

    StartSim({"--type", "R7F", "--version", "3.51"});
    int other = ::open(sim_.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    CliRun busy = Update();
    ::close(other);
    EXPECT_EQ(busy.exitCode, 3) << busy.out;
    EXPECT_TRUE(Contains(busy.out, "is already in use by another application.")) << busy.out;
}

TEST_F(CliFault, CorruptFirmwareAfterTheUpdateIsReported)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "corrupt-firmware"});
    CliRun run = Update();
    EXPECT_EQ(run.exitCode, 5) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Firmware Error ==")) << run.out;
    EXPECT_TRUE(Contains(run.out, "is corrupt!"));
}

TEST_F(CliFault, DataFlashFailureStopsUnlessDataIsKept)
{
    std::string firmware = MakeFirmware("JV-1-05.txt", "JV", "1.05");
    StartSim({"--type", "JV", "--version", "1.00", "--fault", "dataflash-fail"});
    CliRun run = Update({"--firmware", firmware});
    EXPECT_EQ(run.exitCode, 5) << run.out;
    EXPECT_TRUE(Contains(run.out, "in your JT5 Pro because the data storage chip is reporting errors.")) << run.out;
    NewDevice();

    StartSim({"--type", "JV", "--version", "1.05", "--fault", "dataflash-fail"});
    CliRun kept = Update({"--firmware", firmware, "--keep-data"});
    EXPECT_EQ(kept.exitCode, 0) << kept.out;
    EXPECT_FALSE(Contains(kept.out, "This update erases"));
    EXPECT_FALSE(Contains(kept.out, "Erasing old data..."));
}

TEST_F(CliFault, CtrlCOnceWarnsAndTheUpdateGoesOn)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--pace", "115200"});
    CliRunOptions options;
    options.interruptAfterText = "Erasing firmware memory...";
    options.interruptDelaysMs = {0};
    CliRun run = Update({}, options);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Don't Quit Now! ==\nThe update of your Hydrova Series 3 goes on")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Press Ctrl+C again to stop it anyway."));
    EXPECT_FALSE(Contains(run.out, "Click OK"));
    EXPECT_TRUE(Contains(run.out, "Successfully updated firmware in "));
}

TEST_F(CliFault, SettingsThatCannotBeRestoredAreReportedAndTheFileIsKept)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "unwritable=config"});
    CliRun run = Update();
    EXPECT_EQ(run.exitCode, 7) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Settings Error ==")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Firmware updated, but the settings were not (fully) restored")) << run.out;
    // Exit 0 and the success line go together: here neither.
    EXPECT_FALSE(Contains(run.out, "Successfully updated")) << run.out;
    EXPECT_FALSE(Contains(run.out, "You may disconnect")) << run.out;
    EXPECT_TRUE(Contains(run.out, "but the settings were NOT restored.")) << run.out;
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
}

// Twice before the loader starts: the device is left as it was, on its firmware.
TEST_F(CliFault, CtrlCTwiceBeforeTheLoaderChangesNothing)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--pace", "9600"});
    CliRunOptions options;
    options.interruptAfterText = "Saving settings for this";
    options.interruptDelaysMs = {0, 20};
    CliRun run = Update({}, options);
    EXPECT_EQ(run.exitCode, 6) << run.out;
    EXPECT_TRUE(Contains(run.out, "stopped on request before the firmware loader started: nothing on the device "
                                  "was changed (-40).")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Starting the firmware loader")) << run.out;
    EXPECT_FALSE(Contains(run.out, "left in its firmware loader")) << run.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.51");
}

TEST_F(CliFault, CtrlCOnceWarnsTwiceStops)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--pace", "115200"});
    CliRunOptions options;
    options.interruptAfterText = "Erasing firmware memory...";
    options.interruptDelaysMs = {0, 300};
    CliRun run = Update({}, options);
    EXPECT_EQ(run.exitCode, 6) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Don't Quit Now! ==")) << run.out;
    EXPECT_TRUE(Contains(run.out, "[Error -40]")) << run.out;
    const std::string last = "The Hydrova Series 3 is left in its firmware loader. Run the same command again: "
                             "it finishes the update and restores the saved settings.\n";
    EXPECT_EQ(run.out.rfind(last), run.out.size() - last.size()) << run.out;
}
