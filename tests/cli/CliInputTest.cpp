// What the updater is given from outside: a cable that is pulled, files that
// are not firmware files, file names that do not say what they are for.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "CliFixture.h"

namespace {

// A character device of the test's own: the far end of a new pseudo-terminal.
std::string OwnDevice(int* master)
{
    *master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0)
        return "";
    return ::ptsname(*master);
}

class CliInput : public CliFixture {};
}  // namespace

TEST_F(CliInput, APulledCableStopsTheUpdatePromptlyAndKeepsTheSettings)
{
    const std::string firmware = MakeFirmware("R7F-3-52.txt", "R7F", "3.52");
    const struct {
        const char* fault;
        const char* phase;
        int exitCode;
    } cases[] = {
        {"unplug=60", "erase", 5},          // frame 1 is the version query, 2 to 120 erase
        {"unplug=122", "upload", 5},
        {"unplug-restore=0", "restart", 3},  // the device never answers again
        {"unplug-restore=1", "restore", 7},  // the first setting written, then the line is gone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        NewDevice();
        std::filesystem::remove(SettingsFile());
        StartSim({"--type", "R7F", "--version", "3.51", "--restart-ms", "300", "--fault", c.fault});
        CliRun run = Update({"--firmware", firmware});
        std::printf("[ %-16s ] %-8s exit %d after %5d ms, %.2f s of CPU\n", c.fault, c.phase, run.exitCode,
                    run.wallMs, run.cpuSeconds);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out;
        EXPECT_TRUE(std::filesystem::exists(SettingsFile())) << run.out;
        // A whole update of this image takes about 4 s; waits end at the
        // first failed read instead of running out their time-outs.
        EXPECT_LT(run.wallMs, 20000) << run.out;
        // Waiting on a dead line must sleep, not spin.
        EXPECT_LT(run.cpuSeconds, 0.5) << run.out;
    }
}

TEST_F(CliInput, WhatIsNotAFirmwareFileIsRefusedInWords)
{
    const std::string folder = dir_ + "/R7F-3-52.txt";
    std::filesystem::create_directories(folder);
    const std::string fifo = dir_ + "/R7F-3-53.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = MakeFirmware("R7F-3-54.txt", "R7F", "3.54");
    ASSERT_EQ(::truncate(big.c_str(), 2 * 1024 * 1024), 0);
    int master = -1;
    const std::string device = OwnDevice(&master);
    ASSERT_FALSE(device.empty());
    const struct {
        std::string path;
        const char* words;
    } cases[] = {
        {folder, "is a folder"},
        {dir_ + "/R7F-3-55.txt", "was not found"},
        {fifo, "is not a regular file"},
        {device, "is not a regular file (a device or a pipe)"},
        {big, "is too large for a firmware file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        CliRunOptions quick;
        quick.timeoutMs = 10000;  // a pipe opened carelessly would block here
        CliRun inspect = RunCli({"inspect", c.path}, quick);
        EXPECT_EQ(inspect.exitCode, 2) << inspect.out;
        EXPECT_TRUE(Contains(inspect.out, c.words)) << inspect.out;
        EXPECT_FALSE(Contains(inspect.out, "error")) << inspect.out;
        CliRun update = RunCli({"update", "--port", "/dev/null", "--firmware", c.path, "--data-dir", dir_}, quick);
        EXPECT_EQ(update.exitCode, 2) << update.out;
        EXPECT_TRUE(Contains(update.out, c.words)) << update.out;
    }
    // Settings files are judged the same way, with their own size limit.
    CliRun restore = RunCli({"restore-settings", "--port", "/dev/ttyKELO-missing", "--file", big, "--data-dir", dir_});
    EXPECT_EQ(restore.exitCode, 2) << restore.out;
    EXPECT_TRUE(Contains(restore.out, "is too large for a settings file")) << restore.out;
    ::close(master);
}

TEST_F(CliInput, FileNamesWithoutTypeAreRefusedAndWithoutVersionAreSaidSo)
{
    // Named for no device type: refused before the device (in its loader,
    // where nothing would stop a blind write) is touched.
    const std::string untyped = MakeFirmware("fw-JV.txt", "JV", "1.05");
    StartSim({"--type", "JV", "--bootloader"});
    CliRun refused = Update({"--firmware", untyped});
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(Contains(refused.out, "named MODEL-M-mp.txt, for example R7F-3-52.txt")) << refused.out;
    EXPECT_FALSE(Contains(refused.out, "Erasing")) << refused.out;
    StopSim();
    EXPECT_EQ(ReadFile(flashDump_), std::string(65536, '\xFF')) << "the flash was touched";

    CliRun inspectUntyped = RunCli({"inspect", untyped});
    EXPECT_TRUE(Contains(inspectUntyped.out, "an update refuses this file")) << inspectUntyped.out;

    // Named without a version: loaded, but nobody is told "version 0".
    const std::string unversioned = MakeFirmware("R7F-3.52.txt", "R7F", "3.52");
    CliRun inspect = RunCli({"inspect", unversioned});
    EXPECT_EQ(inspect.exitCode, 0) << inspect.out;
    EXPECT_TRUE(Contains(inspect.out, "Version:      unknown")) << inspect.out;
    CliRun update = RunCli({"update", "--port", "/dev/ttyKELO-missing", "--firmware", unversioned, "--data-dir", dir_});
    EXPECT_TRUE(Contains(update.out, "to R7F 3.52 (version unknown")) << update.out;

    // Updating with it: no "Newer Firmware ... loads version 0.00", and the
    // check after the restart says that only the type could be checked.
    NewDevice();
    StartSim({"--type", "R7F", "--version", "3.60", "--restart-ms", "300"});
    CliRun unversionedRun = Update({"--firmware", unversioned});
    EXPECT_EQ(unversionedRun.exitCode, 0) << unversionedRun.out;
    EXPECT_FALSE(Contains(unversionedRun.out, "Newer Firmware")) << unversionedRun.out;
    EXPECT_TRUE(Contains(unversionedRun.out, "gives no version: checking only that the")) << unversionedRun.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
}

// /dev/serial/by-id/ names, which the README recommends, run past 100
// characters: every layer that keeps the port's name keeps all of it.
TEST_F(CliInput, PortNamesOfAnyLengthWork)
{
    const std::string folder = dir_ + "/serial/by-id/" + std::string(60, 'x');
    std::filesystem::create_directories(folder);
    const std::string link = folder + "/usb-Tessaly_Devices_USB_Serial_Converter_" + std::string(30, '7') + "-if00-port0";
    ASSERT_GT(link.size(), 150u);
    MovePort(link);
    StartSim({"--type", "R7F", "--version", "3.51"});
    CliRun info = RunCli({"info", "--port", link});
    EXPECT_EQ(info.exitCode, 0) << info.out;
    EXPECT_TRUE(Contains(info.out, "Firmware:         R7F 3.51")) << info.out;
    CliRun update = RunCli({"update", "--port", link, "--data-dir", dir_, "--demo-image"});
    EXPECT_EQ(update.exitCode, 0) << update.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
}
