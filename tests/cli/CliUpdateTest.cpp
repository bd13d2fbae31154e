// Whole updates: kelobsl-cli against kelosim.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace fs = std::filesystem;

namespace {

class CliUpdate : public CliFixture {};

// The built-in image as a 64 KiB memory image, made by srec_cat from the
// firmware's source file: an oracle that shares nothing with our loader.
std::string BuiltInImageBytes(const std::string& dir)
{
    std::string bin = dir + "/expected.bin";
    std::string command = "srec_cat '" + std::string(KELO_SOURCE_DIR) +
                          "/firmware/R7F-3-52.txt' -ti_txt -fill 0xFF 0x0000 0x10000 -o '" + bin +
                          "' -binary";
    if (std::system(command.c_str()) != 0)
        return {};
    std::ifstream in(bin, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(CliUpdate, UpdatesHydrovaToTheBuiltInFirmwareAndKeepsItsSettings)
{
    StartSim({"--type", "R7F", "--version", "3.51"});
    const std::string adccal = Ask("get -adccal");
    const std::string config = Ask("get -config");
    ASSERT_FALSE(adccal.empty());

    CliRun run = Update({"--verbose"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Successfully updated firmware in ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Uploading new firmware code..."));
    EXPECT_TRUE(Contains(run.out, "to Series 7F 3.52 (demonstration image")) << run.out;
    EXPECT_TRUE(Contains(run.out, "You may disconnect your Hydrova Series 3 now."));
    EXPECT_TRUE(Contains(run.out, "Log: " + dir_ + "/Hydrova Series 3 Firmware Updater.errors.txt"));
    EXPECT_FALSE(fs::exists(SettingsFile())) << "the settings file goes after a successful update";

    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
    EXPECT_EQ(Ask("post"), "Code Good!");
    EXPECT_EQ(Ask("get -adccal"), adccal);
    EXPECT_EQ(Ask("get -config"), config);

    // The log went to the data folder under the window's name.
    std::string log = ReadFile(dir_ + "/Hydrova Series 3 Firmware Updater.errors.txt");
    EXPECT_TRUE(Contains(log, "BSLSendFirmware successful")) << log;

    // One line in the history says what happened to which instrument.
    const std::vector<nlohmann::json> history = History();
    ASSERT_EQ(history.size(), 1u);
    nlohmann::json record = history[0];
    SCOPED_TRACE(record.dump());
    EXPECT_TRUE(fs::exists(record.value("settingsArchive", "")));
    EXPECT_GE(record.value("seconds", 0.0), 1.0);
    EXPECT_LE(record.value("seconds", 0.0), run.wallMs / 1000.0 + 0.1);
    for (const char* varies : {"time", "seconds", "settingsArchive"})
        record.erase(varies);
    // A Hydrova Series 3 keeps no serial number in its settings.
    EXPECT_EQ(record, nlohmann::json::parse(R"({"port":")" + Port() + R"(","device":"Hydrova Series 3",
        "serialNumber":null,"oldVersion":"3.51","newVersion":"3.52","result":1,"words":"updated","newSerialNumber":null})"));

    StopSim();
    std::string expected = BuiltInImageBytes(dir_);
    std::string flash = ReadFile(flashDump_);
    ASSERT_EQ(expected.size(), 0x10000u);
    ASSERT_EQ(flash.size(), 0x10000u);
    // Program flash and the top segment; the information flash holds the
    // settings and 0xFA00-0xFDFF is the bootloader's own.
    EXPECT_TRUE(flash.compare(0x1100, 0xFA00 - 0x1100, expected, 0x1100, 0xFA00 - 0x1100) == 0);
    EXPECT_TRUE(flash.compare(0xFE00, 0x200, expected, 0xFE00, 0x200) == 0);
}

TEST_F(CliUpdate, PowerLossDuringUploadThenASecondRunFinishesAndRestoresTheSettings)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--fault", "power-loss=150"});
    const std::string adccal = Ask("get -adccal");
    const std::string config = Ask("get -config");

    CliRun first = Update();
    EXPECT_EQ(first.exitCode, 5) << first.out;
    EXPECT_TRUE(Contains(first.out, "Firmware Upload Error")) << first.out;
    EXPECT_TRUE(Contains(first.out, "is left in its firmware loader. Run the same command again")) << first.out;
    EXPECT_TRUE(Contains(first.out, "The settings file is kept: " + SettingsFile()));
    EXPECT_TRUE(fs::exists(SettingsFile())) << "a failed update keeps the settings file";

    // Power comes back: the device sits in its bootloader with half a firmware.
    StopSim();
    StartSim({"--type", "R7F", "--version", "3.51"});
    CliRun second = Update();
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_FALSE(Contains(second.out, "Saving settings")) << "nothing to save from a bootloader";
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
    EXPECT_EQ(Ask("get -adccal"), adccal);
    EXPECT_EQ(Ask("get -config"), config);
    EXPECT_FALSE(fs::exists(SettingsFile()));
}

// The firmware goes in (the device has none), the settings do not: exit 7,
// and the words say where they may still be.
TEST_F(CliUpdate, DeviceInItsBootloaderWithoutSettingsFileIsUpdatedAndEndsSeven)
{
    StartSim({"--type", "R7F", "--version", "3.51", "--bootloader"});
    CliRun run = Update();
    EXPECT_EQ(run.exitCode, 7) << run.out;
    const std::string says = "Firmware updated, but the settings were not (fully) restored: no unfinished update of a "
                             "Hydrova Series 3 holds the settings of this Hydrova Series 3 found in its firmware loader: "
                             "its firmware is updated, its settings are not restored; they may still be in " + dir_ +
                             "/archive/Hydrova Series 3 (restore one with restore-settings).";
    EXPECT_TRUE(Contains(run.out, says)) << run.out;
    EXPECT_TRUE(Contains(run.out, "== Settings Not Restored ==\nNo unfinished update of a Hydrova Series 3")) << run.out;
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");
}

TEST_F(CliUpdate, NewerFirmwareIsKeptUnlessTheQuestionIsAnsweredOk)
{
    // Paced, so that the write lasts long enough (about 2.5 s) for a rate
    // and a time left to show during it.
    constexpr double kPaceBytesPerS = 230400 / 10.0;
    StartSim({"--type", "R7F", "--version", "3.60", "--pace", "230400"});
    CliRun declined = Update();
    EXPECT_EQ(declined.exitCode, 6) << declined.out;
    EXPECT_TRUE(Contains(declined.out, "Newer Firmware"));
    EXPECT_TRUE(Contains(declined.out, "answered Cancel"));
    EXPECT_TRUE(Contains(declined.out, "(The Hydrova Series 3 runs version 3.60; this updater loads version 3.52.)"));
    EXPECT_EQ(Ask("get -ver"), "R7F 3.60");

    CliRun accepted = Update({"--yes", "--json"});
    EXPECT_EQ(accepted.exitCode, 0) << accepted.out;
    EXPECT_TRUE(Contains(accepted.out, "{\"answer\":\"ok\",\"by\":\"--yes\""));
    // The first line names the device, the last one has the real duration
    // and names the log only when one was written.
    const std::string firstLine = accepted.out.substr(0, accepted.out.find('\n'));
    nlohmann::json start = nlohmann::json::parse(firstLine, nullptr, false);
    EXPECT_EQ(start.value("event", ""), "start") << accepted.out;
    EXPECT_EQ(start.value("port", ""), Port());
    EXPECT_EQ(start.value("deviceVersion", ""), "3.60");
    EXPECT_EQ(start.value("imageVersion", ""), "3.52");
    EXPECT_EQ(start.value("eraseData", true), false);
    const std::string lastLine = accepted.out.substr(accepted.out.rfind('\n', accepted.out.size() - 2) + 1);
    nlohmann::json result = nlohmann::json::parse(lastLine, nullptr, false);
    EXPECT_EQ(result.value("event", ""), "result") << accepted.out;
    EXPECT_EQ(result.value("exit", -1), 0);
    EXPECT_GE(result.value("seconds", 0.0), 1.0);
    EXPECT_EQ(result["log"].is_null(), !fs::exists(dir_ + "/Hydrova Series 3 Firmware Updater.errors.txt"));
    EXPECT_EQ(Ask("get -ver"), "R7F 3.52");

    // Progress carries the time: elapsed never goes back; rate and time left
    // appear during the write and stay, the rate within the line's, and the
    // time left comes down to 0 when the write is done.
    std::istringstream lines(accepted.out);
    double elapsed = 0;
    std::optional<long long> firstEta, eta, rate;
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.value("event", "") != "progress")
            continue;
        EXPECT_GE(event.value("elapsed_s", -1.0), elapsed) << line;
        elapsed = event.value("elapsed_s", -1.0);
        EXPECT_TRUE(!rate || !event["bytes_per_s"].is_null()) << line;
        EXPECT_TRUE(!eta || !event["eta_s"].is_null()) << line;
        if (!event["bytes_per_s"].is_null())
            rate = event["bytes_per_s"].get<long long>();
        if (!event["eta_s"].is_null())
            eta = event["eta_s"].get<long long>();
        EXPECT_TRUE(!rate || (*rate > 0 && *rate <= kPaceBytesPerS * 1.05)) << line;
        if (eta && !firstEta)
            firstEta = eta;
    }
    ASSERT_TRUE(rate && firstEta) << accepted.out;
    EXPECT_GT(*firstEta, 0) << "no time left was known during the write";
    EXPECT_EQ(*eta, 0);
}

TEST_F(CliUpdate, FactoryNewSerialNumberOnAnUninitialisedInstrument)
{
    // A JT5 Pro that answers its serial number with a bare prompt: its
    // settings cannot be read, the question is answered OK, and only the new
    // serial number is written after the update.
    std::string firmware = MakeFirmware("JV-1-05.txt", "JV", "1.05");
    StartSim({"--type", "JV", "--version", "1.00", "--fault", "bare-sn"});
    CliRun run = Update({"--firmware", firmware, "--new-sn", "JT5-000777", "--yes", "--keep-data"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Settings Retrieve Error")) << run.out;
    StopSim();
    StartSim({"--type", "JV", "--version", "1.00"});
    EXPECT_EQ(Ask("get -ver"), "JV 1.05");
    EXPECT_EQ(Ask("get -sn"), "JT5-000777");
    const std::vector<nlohmann::json> history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_TRUE(history[0]["serialNumber"].is_null()) << history[0];
    EXPECT_EQ(history[0].value("newSerialNumber", ""), "JT5-000777");
}
