// What the command line tells a person: causes in words, what to do next,
// nothing that is not so. Each case checks the words and the exit code.
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliFixture.h"

namespace fs = std::filesystem;

namespace {

class CliMessages : public CliFixture {
protected:
    void ExpectWords(const CliRun& run, int exitCode, const std::vector<std::string>& present,
                     const std::vector<std::string>& absent = {})
    {
        EXPECT_EQ(run.exitCode, exitCode) << run.out;
        for (const std::string& words : present) {
            EXPECT_TRUE(Contains(run.out, words)) << "missing \"" << words << "\" in:\n" << run.out;
        }
        for (const std::string& words : absent) {
            EXPECT_FALSE(Contains(run.out, words)) << "unexpected \"" << words << "\" in:\n" << run.out;
        }
    }
    std::string BrokenFirmware()
    {
        std::string path = dir_ + "/R7F-3-53.txt";
        std::ofstream(path) << "@7200\n01 02 G7 04\n@FFE0\n00 72\nq\n";
        return path;
    }
};

struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> present;
    std::vector<std::string> absent = {};
};

}  // namespace

TEST_F(CliMessages, CommandLinesThatNeedNoDevice)
{
    const std::string broken = BrokenFirmware();
    const std::string settings = dir_ + "/R7F.settings.txt";
    std::ofstream(settings) << "***** Auto-Generated Settings File -- DO NOT EDIT *****\n\ntype=\"R7F\"\n";
    const std::string lineTwo = "line 2: expected bytes of two hex digits each, separated by blanks (-100)";
    const Case cases[] = {
        {{"update", "--port", "ttyKELO-missing", "--demo-image", "--data-dir", dir_}, 3,
         {"Update failed: no port /dev/ttyKELO-missing (-2).\nSee the ports of this computer with: kelobsl-cli list-ports"},
         {"The settings file is kept"}},
        {{"info", "--port", "/dev/ttyKELO-missing"}, 3, {"No connection: no port /dev/ttyKELO-missing (-2)."}},
        {{"restore-settings", "--port", "/dev/ttyKELO-missing", "--file", settings, "--data-dir", dir_}, 3,
         {"Cause: no port /dev/ttyKELO-missing (-2).\nSee the ports"}},
        {{"update", "--port", "/dev/null", "--data-dir", "/proc"}, 2,
         {"cannot write to the data folder /proc", "--data-dir"}, {"could not retrieve the settings"}},
        {{"update", "--prot", "/dev/null"}, 2, {"unknown option --prot for update; did you mean --port?"},
         {"required"}},
        {{"frobnicate"}, 2, {"unknown command \"frobnicate\"", "The commands are: update, station, restore-settings, info, list-ports, inspect, history"}},
        {{"inspect", dir_}, 2, {"could not be read: is a folder, not a file ("}},
        {{"inspect", broken}, 2, {"\"R7F-3-53.txt\" is not a valid TI-Text firmware file: " + lineTwo}},
        {{"update", "--port", "/dev/null", "--firmware", broken, "--data-dir", dir_}, 2,
         {"is not a valid firmware file.", "Update not started: R7F-3-53.txt: not a valid TI-Text firmware file: " + lineTwo}},
        {{"update", "--port", "/dev/null", "--firmware", broken, "--data-dir", dir_, "--json"}, 2,
         {"\"event\":\"start\",\"image\":null", "\"cause\":\"not a valid TI-Text firmware file: line 2"}},
        {{"--version"}, 0, {"kelobsl-cli built for Linux", "built-in image R7F 3.52"}, {"for Windows"}},
        {{"update", "--help"}, 0,
         {"Built-in image: R7F 3.52, for the Hydrova Series 3", "MODEL-M-mp.txt", "Tessaly/KeloBSL",
          "written only\n  when something is logged", "run the same command again", "Keep the measurements stored",
          "6  cancelled"},
         {"Factory: do not erase"}},
        {{"list-ports", "--help"}, 0, {"ttyUSB0-15", "0  the list was printed"}, {"6  cancelled", "Force Find"}},
        {{"info", "--help"}, 0, {"3  no connection", "4  the device answered"}, {"6  cancelled"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        ExpectWords(RunCli(c.args), c.exitCode, c.present, c.absent);
    }
}

// A port this user may not open, owned by the dialout group as serial ports
// are. As root the mode does not stop us, so the command line runs as nobody;
// otherwise our own user is shut out by the mode.
TEST_F(CliMessages, PermissionDeniedNamesTheGroupToJoin)
{
    StartSim({"--type", "R7F", "--version", "3.51"});
    if (::geteuid() == 0) {
        const group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr);
        ASSERT_EQ(::chown(sim_.Path().c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(::chmod(sim_.Path().c_str(), 0660), 0);
    } else {
        ASSERT_EQ(::chmod(sim_.Path().c_str(), 0), 0);
    }
    const std::string data = dir_ + "/data";
    fs::create_directories(data);
    fs::permissions(data, fs::perms::all);
    CliRunOptions options;
    if (::geteuid() == 0)
        options.wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    const std::string firmware = MakeFirmware("R7F-3-52.txt", "R7F", "3.52");
    CliRun run = RunCli({"update", "--port", sim_.Path(), "--data-dir", data, "--firmware", firmware}, options);
    ExpectWords(run, 3,
                {"Update failed: the port " + sim_.Path() + " exists, but this user may not open it: permission denied (-13).",
                 "Join the group that owns it (dialout): sudo usermod -aG dialout $USER", "log out and in again"},
                {"check your serial cable\n\nUpdate failed", "The settings file is kept"});
    EXPECT_EQ(Ask("get -ver"), "R7F 3.51");
}

TEST_F(CliMessages, InfoLooksWithoutChanging)
{
    std::string firmware = MakeFirmware("JV-1-05.txt", "JV", "1.05");
    // 13.52 is newer than 3.60; a name without a version is older than nothing.
    std::string thirteen = MakeFirmware("R7F-13-52.txt", "R7F", "13.52");
    std::string unversioned = MakeFirmware("R7F-3.52.txt", "R7F", "3.52");
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> extra;
        int exitCode;
        std::vector<std::string> present;
        std::vector<std::string> absent = {};
    } cases[] = {
        {{"--type", "R7F", "--version", "3.51"}, {}, 0,
         {"Device type:      12 (Hydrova Series 3)", "Firmware:         R7F 3.51", "Firmware loader:  no",
          "Can update:       yes, to R7F 3.52 (built-in image)"}},
        {{"--type", "R7F", "--version", "3.60"}, {"--json"}, 0,
         {"\"canUpdate\":true", "\"version\":\"R7F 3.60\"", "Newer Firmware"}},
        {{"--type", "R7F", "--version", "3.51", "--bootloader"}, {}, 0, {"Firmware loader:  yes"}},
        {{"--type", "JV", "--version", "1.00", "--battery", "9"}, {"--firmware", firmware}, 4,
         {"Serial number:    KS000123", "Battery:          9%", "no: the battery is at 9%"}},
        {{"--type", "JV", "--version", "1.00"}, {}, 4, {"no: R7F 3.52 (built-in image) is for a Hydrova Series 3"}},
        {{"--type", "R7F", "--version", "3.60"}, {"--firmware", thirteen}, 0, {"yes, to R7F 13.52"}, {"Newer Firmware"}},
        {{"--type", "R7F", "--version", "3.60"}, {"--firmware", unversioned}, 0, {"yes, to R7F 3.52"}, {"Newer Firmware"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim[1] + " " + c.sim[3]);
        NewDevice();
        StartSim(c.sim);
        const std::string before = c.sim.size() > 4 && c.sim[4] == "--bootloader" ? "" : Ask("get -config");
        std::vector<std::string> args = {"info", "--port", sim_.Path()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CliRun run = RunCli(args);
        ExpectWords(run, c.exitCode, c.present, c.absent);
        if (!before.empty()) {
            EXPECT_EQ(Ask("get -config"), before) << "info changes nothing";
        }
    }
}
