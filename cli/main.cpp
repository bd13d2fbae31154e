// kelobsl-cli: the firmware update without a window, for factories and scripts.
#include <CLI/CLI.hpp>

#include <iostream>

#include "AppState.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "UpdateTexts.h"

namespace {

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  success: firmware updated and every setting restored\n"
    "  2  bad usage or an invalid firmware file\n"
    "  3  no connection to the device or its firmware loader\n"
    "  4  wrong, unsupported or too-old device, no working loader, or batteries too low\n"
    "  5  settings could not be saved, or erase, upload, firmware check or data erase failed\n"
    "  6  cancelled (a question answered Cancel, or Ctrl+C pressed twice)\n"
    "  7  firmware updated, settings not (fully) restored; the settings file is kept\n"
    "  1  any other failure";

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"kelobsl-cli: update the firmware of an instrument or logger on a serial port"};
    app.footer(kExitCodes);
    app.require_subcommand(0, 1);
    bool about = false;
    app.add_flag("--version,--about", about, "Show the version and exit");

    UpdateArgs update;
    CLI::App* updateCmd = app.add_subcommand("update", "Update the device on PORT to this build's firmware");
    updateCmd->add_option("--port", update.port, "Serial port: ttyUSB0, /dev/serial/by-id/..., COM3")->required();
    updateCmd->add_option("--firmware", update.firmware, "Load this TI-Text firmware file instead of the built-in image")
        ->check(CLI::ExistingFile);
    updateCmd->add_option("--new-sn", update.newSn, "Factory: write this serial number (at most 15 characters)");
    updateCmd->add_flag("--keep-data", update.keepData, "Factory: do not erase the data stored on the device");
    updateCmd->add_flag("--yes", update.yes, "Answer OK to the questions (\"Newer Firmware\", \"Settings Retrieve Error\")");
    updateCmd->add_option("--settings-from", update.settingsFrom,
                          "Answer \"Settings Conflict\": restore the settings file left by an earlier run (saved) "
                          "or go on with the device's own settings (device)")
        ->check(CLI::IsMember({"saved", "device"}));
    updateCmd->add_flag("--demo-image", update.demoImage,
                        "Write the built-in demonstration image (for kelosim; real instruments need the maker's image)");
    updateCmd->add_option("--data-dir", update.dataDir, "Folder for the settings file and the log");
    updateCmd->add_option("--log", update.logFile, "Diagnostic log file");
    updateCmd->add_flag("--verbose", update.verbose, "Verbose diagnostic log");
    updateCmd->add_flag("--json", update.json, "One JSON object per line for every status, progress step and message");

    RestoreArgs restore;
    CLI::App* restoreCmd =
        app.add_subcommand("restore-settings", "Write a settings file (for example from the archive) back to the device on PORT");
    restoreCmd->add_option("--port", restore.port, "Serial port")->required();
    restoreCmd->add_option("--file", restore.file, "Settings file")->required();
    restoreCmd->add_option("--data-dir", restore.dataDir, "Folder for the log");
    restoreCmd->add_option("--log", restore.logFile, "Diagnostic log file");
    restoreCmd->add_flag("--verbose", restore.verbose, "Verbose diagnostic log");

    bool all = false;
    bool listJson = false;
    CLI::App* listCmd = app.add_subcommand("list-ports", "List the serial ports");
    listCmd->add_flag("--all", all, "Also try the usual port names directly (Force Find All Comm Ports)");
    listCmd->add_flag("--json", listJson, "JSON output");

    std::string file;
    bool inspectJson = false;
    CLI::App* inspectCmd = app.add_subcommand("inspect", "Show what an update would load from a TI-Text firmware file");
    inspectCmd->add_option("FILE", file, "TI-Text firmware file (none: the built-in image)");
    inspectCmd->add_flag("--json", inspectJson, "JSON output");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? exit_code::kSuccess : exit_code::kUsage;
    }

    if (about) {
        std::cout << texts::AboutText(KELO_VERSION) << '\n';
        std::cout << "\nBuilt-in firmware: " << BuildTarget::kLabel
                  << (BuiltInImageIsDemo() ? " (" + texts::DemoImageNote() + ")" : "") << '\n';
        return exit_code::kSuccess;
    }
    if (*updateCmd)
        return RunUpdateCommand(update);
    if (*restoreCmd)
        return RunRestoreSettingsCommand(restore);
    if (*listCmd)
        return RunListPortsCommand(all, listJson);
    if (*inspectCmd)
        return RunInspectCommand(file, inspectJson);
    std::cerr << app.help() << '\n';
    return exit_code::kUsage;
}
