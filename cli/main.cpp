// kelobsl-cli: the firmware update without a window, for factories and scripts.
#include <CLI/CLI.hpp>

#include <iostream>

#include "AppSetup.h"
#include "AppState.h"
#include "CauseWords.h"
#include "CommPortEnum.h"
#include "Commands.h"
#include "DeviceTypes.h"
#include "ExitCodes.h"
#include "PortShortName.h"
#include "ThisSystem.h"
#include "UpdateTexts.h"
#include "UsageCheck.h"

namespace {

const char* const kUpdateExitCodes =
    "Exit codes:\n"
    "  0  success: firmware updated and every setting restored\n"
    "  1  any other failure\n"
    "  2  bad usage, an invalid firmware file, a data folder that cannot be written, or a settings file\n"
    "     of an unfinished update that must be settled first (stopped before anything changed)\n"
    "  3  no connection to the device or its firmware loader\n"
    "  4  wrong, unsupported or too-old device, no working loader, batteries too low, or a battery\n"
    "     level that cannot be read\n"
    "  5  settings could not be saved, or erase, upload, firmware check or data erase failed\n"
    "  6  cancelled (a question answered Cancel, or Ctrl+C pressed twice)\n"
    "  7  firmware updated, settings not (fully) restored or not read back as written; the settings\n"
    "     file is kept";

const char* const kStationText =
    "Each port waits for a device (a port that appears, as a USB adapter's /dev/serial/by-id/ name does\n"
    "when plugged in, or a device that answers on a port that stays), updates it, shows the result until\n"
    "the device goes away (unplugged, or no longer answering), then waits for the next.\n"
    "A device whose type has no firmware file is left untouched. A device in its firmware loader cannot\n"
    "say its type: the unfinished updates waiting for their settings tell it, or the person at the\n"
    "terminal picks one; else it is left untouched. The board shows each port and the totals; every\n"
    "device, updated or left untouched, adds its line to history.jsonl.\n"
    "Exit code: 0 when every device was updated, else the highest of the devices' update exit codes.";

const char* const kRestoreExitCodes =
    "Exit codes:\n"
    "  0  every setting written back\n"
    "  2  bad usage, or the settings file is missing, for another device type or incomplete\n"
    "  3  no connection to the device, or the device is in its firmware loader\n"
    "  4  the device keeps no settings, or this updater does not support its firmware\n"
    "  7  not every setting went back";

const char* const kInfoExitCodes =
    "Exit codes:\n"
    "  0  the device answered and an update could go ahead (also from its firmware loader)\n"
    "  2  bad usage or an invalid firmware file\n"
    "  3  no connection: no such port, port in use or not permitted, no answer\n"
    "  4  the device answered, but an update would refuse it (wrong or unknown type,\n"
    "     unsupported firmware, batteries too low)";

const char* const kFileExitCodes =
    "Exit codes:\n"
    "  0  the file (or, without one, the built-in image) is a valid TI-Text firmware image\n"
    "  2  bad usage, or the file cannot be read or is not valid (the line and what was expected are named)";

const char* const kHistoryExitCodes =
    "Exit codes:\n"
    "  0  the history was printed (it may be empty; broken lines are named and skipped)\n"
    "  1  the history file exists but cannot be read\n"
    "  2  bad usage";

const char* const kListExitCodes =
    "Exit codes:\n"
    "  0  the list was printed (it may be empty)\n"
    "  2  bad usage";

// Two updates on one port would fight over the line.
std::string PortGivenTwice(const std::vector<std::string>& ports)
{
    for (std::size_t i = 0; i < ports.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (SamePort(ports[i], ports[j]))
                return "the port " + ports[i] + " is given twice" +
                       (ports[i] == ports[j] ? "" : " (as " + ports[j] + ")") + "; give each port once";
    return {};
}

std::string BuiltInImage()
{
    return std::string(DeviceTypeModelWord(BuildTarget::kDeviceType)) + " " + VersionText(BuildTarget::kVersion);
}

// Device types whose update erases their stored measurements.
std::string ErasingTypes()
{
    std::string names;
    for (int type = 1; type < kDeviceTypeCount; ++type)
        if (DeviceTypeInfo(type).eraseData)
            names += (names.empty() ? "" : ", ") + std::string(DeviceTypeName(type));
    return names;
}

std::string UpdateFooter()
{
    const std::string device = DeviceTypeName(BuildTarget::kDeviceType);
    const std::string folder = DefaultDataFolder();
    return "Built-in image: " + BuiltInImage() + ", for the " + device + " (version " +
           VersionText(BuildTarget::kVersion) + ")" +
           (BuiltInImageIsDemo() ? ": a " + texts::DemoImageNote() + "; it is written only with --demo-image" : "") +
           ".\n" +
           "--firmware: a TI-Text file whose name says what it is for: MODEL-M-mp.txt, the device's model\n"
           "  word, the major version, the minor and patch digits (R7F-3-52.txt is version 3.52 for a\n"
           "  " + device + "). The file is for that device type only.\n" +
           "Data folder (--data-dir): default " + (folder.empty() ? std::string("the current folder") : folder) +
           ".\n  The settings are saved there as \"<device>.settings.txt\" before anything is erased, and the\n"
           "  file is deleted after a successful update. Every update adds a line to history.jsonl there\n"
           "  (see: kelobsl-cli history).\n"
           "--log: default \"<device> Firmware Updater.errors.txt\" in the data folder. The file is written only\n"
           "  when something is logged: failures always, every step with --verbose.\n"
           "After an interruption (a failure while erasing or writing, a pulled cable, Ctrl+C twice) the\n"
           "  device waits in its firmware loader: run the same command again; it finishes the update and\n"
           "  restores the settings saved by the unfinished update of that port. A device in its loader\n"
           "  cannot say which instrument it is: when the settings waiting for its type are not exactly one\n"
           "  left by a one-port run on that port, it asks which (on a terminal: type the file's number), or\n"
           "  stops before writing anything and lists them; answer with --settings-file FILE or --no-settings\n"
           "  (--yes does not answer this).\n"
           "Several --port: every device is updated at the same time; the settings file and the log of each\n"
           "  get the port's short name (\"<device>-ttyUSB0.settings.txt\"), a table at the end shows each\n"
           "  port's result, and the exit code is the highest of the ports' codes.\n\n" +
           kUpdateExitCodes;
}

std::string VersionLines(const std::string& engineVersion)
{
    // The about text names the window's home platform; say what this program was built for.
    std::string about = texts::AboutText(engineVersion);
    const std::string windows = " for Windows";
    const std::string platform = BuildPlatform();
    if (auto at = about.find(windows); at != std::string::npos && platform.rfind("Windows", 0) != 0)
        about.replace(at, windows.size(), " for " + platform);
    return about + "\nkelobsl-cli built for " + platform + "; built-in image " + BuiltInImage() +
           (BuiltInImageIsDemo() ? " (" + texts::DemoImageNote() + ")" : "") + ".";
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"kelobsl-cli: update the firmware of an instrument or logger on a serial port"};
    app.footer("Each command's --help names its options and its exit codes (0 success, 2 bad usage, ...).");
    app.require_subcommand(0, 1);
    bool about = false;
    app.add_flag("--version,--about", about, "Show the version and the platform this program was built for");

    UpdateArgs update;
    CLI::App* updateCmd = app.add_subcommand("update", "Update the device on PORT to this build's firmware");
    updateCmd->footer(UpdateFooter());
    updateCmd
        ->add_option("--port", update.ports,
                     "Serial port: ttyUSB0, /dev/serial/by-id/..., COM3; give --port again to update several "
                     "devices at the same time")
        ->required();
    // No existence check here: the loader says what is wrong with the file.
    updateCmd->add_option("--firmware", update.firmware, "Load this TI-Text firmware file instead of the built-in image");
    updateCmd->add_option("--new-sn", update.newSn, "Factory: write this serial number (at most 15 characters)");
    updateCmd->add_option("--new-sn-from", update.newSnFrom,
                          "Factory: take each device's serial number from this list (one a line; each used once)");
    updateCmd->add_flag("--keep-data", update.keepData,
                        "Keep the measurements stored on the device; without it an update of a " + ErasingTypes() +
                            " erases them at its end");
    updateCmd->add_flag("--yes", update.yes,
                        "Answer OK to \"Newer Firmware\", and to \"Settings Retrieve Error\" for a device that "
                        "named no settings");
    updateCmd->add_option("--settings-from", update.settingsFrom,
                          "Answer \"Settings Conflict\": restore the settings file left by an earlier run (saved) "
                          "or go on with the device's own settings (device)")
        ->check(CLI::IsMember({"saved", "device"}));
    CLI::Option* settingsFile = updateCmd->add_option(
        "--settings-file", update.settingsFile,
        "Answer \"Which Instrument?\" for a device found in its firmware loader: restore this settings file "
        "(one the question lists, or one of the archive)");
    updateCmd
        ->add_flag("--no-settings", update.noSettings,
                   "Answer \"Which Instrument?\": update a device found in its firmware loader without settings "
                   "(the run ends with exit 7)")
        ->excludes(settingsFile);
    updateCmd->add_flag("--demo-image", update.demoImage,
                        "Write the built-in demonstration image (for kelosim; real instruments need the maker's image)");
    updateCmd->add_option("--data-dir", update.dataDir, "Folder for the settings file and the log");
    updateCmd->add_option("--log", update.logFile, "Diagnostic log file");
    updateCmd->add_flag("--verbose", update.verbose, "Log every step, not only failures");
    updateCmd->add_flag("--json", update.json,
                        "One JSON object per line: a start event, every status, progress step (with elapsed_s, and eta_s "
                        "and bytes_per_s of the firmware image's bytes being written) and message, a result");

    StationArgs station;
    CLI::App* stationCmd = app.add_subcommand(
        "station", "A factory line: update every device plugged into the ports, one after another, until Ctrl+C");
    stationCmd->footer(kStationText);
    stationCmd->add_option("--port", station.ports, "Serial port to watch (repeatable)")->required();
    stationCmd->add_option("--firmware", station.firmware,
                           "TI-Text firmware file; give one per device type (default: the built-in image)");
    stationCmd->add_option("--firmware-dir", station.firmwareDir,
                           "Take the newest MODEL-M-mp.txt of each device type in this folder");
    stationCmd->add_option("--new-sn-from", station.newSnFrom,
                           "Take each device's serial number from this list (one a line; each used once)");
    stationCmd->add_option("--new-sn", station.newSn, "Refused: one number would go to every device")
        ->group("");
    stationCmd->add_option("--count", station.count, "Stop after this many devices")->check(CLI::PositiveNumber);
    stationCmd->add_flag("--keep-data", station.keepData, "Keep the measurements stored on the devices");
    stationCmd->add_flag("--yes", station.yes, "Answer OK to the questions an update asks (as update --yes)");
    stationCmd->add_flag("--demo-image", station.demoImage, "Allow writing the demonstration image");
    stationCmd->add_option("--data-dir", station.dataDir, "Folder for the settings files, logs and history");
    stationCmd->add_flag("--verbose", station.verbose, "Log every step, not only failures");
    stationCmd->add_flag("--json", station.json,
                         "One JSON object per line: each update's events with its port and device number, and "
                         "station events (found, updating, done, failed, gone)");

    RestoreArgs restore;
    CLI::App* restoreCmd =
        app.add_subcommand("restore-settings", "Write a settings file (for example from the archive) back to the device on PORT");
    restoreCmd->footer(kRestoreExitCodes);
    restoreCmd->add_option("--port", restore.port, "Serial port")->required();
    restoreCmd->add_option("--file", restore.file, "Settings file")->required();
    restoreCmd->add_option("--data-dir", restore.dataDir, "Folder for the log");
    restoreCmd->add_option("--log", restore.logFile, "Diagnostic log file");
    restoreCmd->add_flag("--verbose", restore.verbose, "Verbose diagnostic log");

    InfoArgs info;
    CLI::App* infoCmd = app.add_subcommand(
        "info", "Identify the device on PORT without changing anything: type, firmware, serial number, battery");
    infoCmd->footer(kInfoExitCodes);
    infoCmd->add_option("--port", info.port, "Serial port: ttyUSB0, /dev/serial/by-id/..., COM3")->required();
    infoCmd->add_option("--firmware", info.firmware, "Judge against this TI-Text file instead of the built-in image")
        ->check(CLI::ExistingFile);
    infoCmd->add_flag("--json", info.json, "JSON output");

    bool all = false;
    bool listJson = false;
    CLI::App* listCmd = app.add_subcommand("list-ports", "List the serial ports");
    listCmd->footer(kListExitCodes);
    const std::string allHelp =
        std::string("Also try to open ") + CommPortProbedNames() + " directly, for ports the system does not list";
    listCmd->add_flag("--all", all, allHelp);
    listCmd->add_flag("--json", listJson, "JSON output");

    std::string file;
    bool inspectJson = false;
    CLI::App* inspectCmd = app.add_subcommand("inspect", "Show what an update would load from a TI-Text firmware file");
    inspectCmd->footer(kFileExitCodes);
    inspectCmd->add_option("FILE", file, "TI-Text firmware file (none: the built-in image)");
    inspectCmd->add_flag("--json", inspectJson, "JSON output");

    HistoryArgs history;
    CLI::App* historyCmd =
        app.add_subcommand("history", "Show the updates recorded in history.jsonl of the data folder, newest first");
    historyCmd->footer(std::string("Every update, from this program or the window, adds one line to history.jsonl\n") +
                       "in the data folder: the time (UTC), port, device, serial number, old and new\n" +
                       "version, result, seconds and the archived settings file.\n\n" + kHistoryExitCodes);
    historyCmd->add_option("--data-dir", history.dataDir, "Data folder (default: as for update)");
    historyCmd->add_flag("--json", history.json, "The records as one JSON array, newest first");

    // CLI11 reports a missing required option first; the typing slip that
    // caused it is the more useful message.
    if (std::string problem = UsageProblem(app, argc, argv); !problem.empty()) {
        std::cerr << "kelobsl-cli: " << problem << "\nRun with --help for more information.\n";
        return exit_code::kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? exit_code::kSuccess : exit_code::kUsage;
    }

    if (about) {
        std::cout << VersionLines(KELO_VERSION) << '\n';
        return exit_code::kSuccess;
    }
    if (*updateCmd) {
        if (std::string twice = PortGivenTwice(update.ports); !twice.empty()) {
            std::cerr << "kelobsl-cli: " << twice << "\nRun with --help for more information.\n";
            return exit_code::kUsage;
        }
        update.port = update.ports.front();
        return RunUpdateCommand(update);
    }
    if (*stationCmd) {
        if (std::string twice = PortGivenTwice(station.ports); !twice.empty()) {
            std::cerr << "kelobsl-cli: " << twice << "\nRun with --help for more information.\n";
            return exit_code::kUsage;
        }
        return RunStationCommand(station);
    }
    if (*restoreCmd)
        return RunRestoreSettingsCommand(restore);
    if (*infoCmd)
        return RunInfoCommand(info);
    if (*listCmd)
        return RunListPortsCommand(all, listJson);
    if (*inspectCmd)
        return RunInspectCommand(file, inspectJson);
    if (*historyCmd)
        return RunHistoryCommand(history);
    std::cerr << app.help() << '\n';
    return exit_code::kUsage;
}
