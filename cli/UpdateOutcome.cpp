// What the update command makes of one update: exit code, cause in words,
// the JSON start event and the checks before a run starts.
#include "UpdateOutcome.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "CauseWords.h"
#include "ExitCodes.h"
#include "Result.h"
#include "SettingsArchive.h"
#include "ThisSystem.h"
#include "UpdateTexts.h"

int ExitCodeFor(int result, const UpdateWorkflow& workflow, bool keepGoing, bool conflictUnanswered)
{
    const UpdateStep step = workflow.FailedStep();
    const int connectResult = workflow.ConnectResult();
    if (result >= 0)
        return workflow.Settings() == SettingsOutcome::NotRestored ? exit_code::kSettingsNotRestored
                                                                    : exit_code::kSuccess;
    // "Which Instrument?" and "Settings Retrieve Error" for a device that
    // named settings: stopped before any change for the person's answer.
    if (step == UpdateStep::WhichInstrument)
        return exit_code::kUsage;
    if (step == UpdateStep::Question && conflictUnanswered)
        return exit_code::kUsage;
    if (step == UpdateStep::SettingsConflict)
        return conflictUnanswered ? exit_code::kUsage : exit_code::kCancelled;
    if (step == UpdateStep::OnePortSettingsFile)
        return exit_code::kUsage;  // stopped before any change, as an unanswered "Settings Conflict"
    if (step == UpdateStep::Connect && connectResult == result::kCannotUpdate)
        return exit_code::kWrongDevice;  // the device answered: its firmware is not one we update
    if (result == result::kStopped && (!keepGoing || step == UpdateStep::Question))
        return exit_code::kCancelled;
    switch (step) {
    case UpdateStep::Connect:
    case UpdateStep::Loader:
    case UpdateStep::Reconnect:
        return exit_code::kNoConnection;
    case UpdateStep::DeviceCheck:
    case UpdateStep::LoaderMissing:
        return exit_code::kWrongDevice;
    case UpdateStep::SaveSettings:
    case UpdateStep::Erase:
    case UpdateStep::Upload:
    case UpdateStep::FirmwareCheck:
    case UpdateStep::DataErase:
        return exit_code::kDeviceFailure;
    case UpdateStep::Question:
    case UpdateStep::Stopped:
        return exit_code::kCancelled;
    default:
        return exit_code::kUpdateFailed;
    }
}

const char* StepName(UpdateStep step)
{
    switch (step) {
    case UpdateStep::None: return "none";
    case UpdateStep::Connect: return "connect";
    case UpdateStep::DeviceCheck: return "device-check";
    case UpdateStep::Question: return "question";
    case UpdateStep::Stopped: return "stopped";
    case UpdateStep::SaveSettings: return "save-settings";
    case UpdateStep::SettingsConflict: return "settings-conflict";
    case UpdateStep::OnePortSettingsFile: return "one-port-settings-file";
    case UpdateStep::Loader: return "loader";
    case UpdateStep::LoaderMissing: return "loader-missing";
    case UpdateStep::Erase: return "erase";
    case UpdateStep::Upload: return "upload";
    case UpdateStep::Reconnect: return "reconnect";
    case UpdateStep::FirmwareCheck: return "firmware-check";
    case UpdateStep::DataErase: return "data-erase";
    case UpdateStep::SettingsInUse: return "settings-in-use";
    case UpdateStep::WhichInstrument: return "which-instrument";
    case UpdateStep::Done: return "done";
    }
    return "none";
}

std::string BaseName(const std::string& path)
{
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Settings are saved in the data folder before anything is erased: a folder
// that cannot take a file must stop the update before it starts.
static std::string DataFolderProblem(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string probe =
        (std::filesystem::path(folder) / (".kelobsl-write-test-" + std::to_string(ProcessId()))).string();
    errno = 0;
    std::FILE* file = std::fopen(probe.c_str(), "w");
    if (!file) {
        const int code = -(errno ? errno : EACCES);
        // A folder that exists but takes no files (/proc) says "no such file".
        const std::string why = code == -ENOENT ? "it takes no new files (error " + std::to_string(-code) + ")" : FileCause(-code);
        return "cannot write to the data folder " + folder + ": " + why +
               ".\nThe settings are saved there before the update; choose a folder you may write with --data-dir";
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return {};
}

// How the firmware files of a device type are named: "R7F-M-mp.txt".
static std::string FileNameRule(int type)
{
    return std::string(DeviceTypeModelWord(type)) + "-M-mp.txt";
}

// A value as it can be pasted into a command line.
std::string Quoted(const std::string& value)
{
    return value.find(' ') == std::string::npos ? value : '"' + value + '"';
}

// The command that updates args.port alone, with this run's data folder and image.
static std::string OnePortCommand(const UpdateArgs& args)
{
    std::string command = "kelobsl-cli update --port " + Quoted(args.port);
    if (!args.dataDir.empty())
        command += " --data-dir " + Quoted(args.dataDir);
    if (!args.firmware.empty())
        command += " --firmware " + Quoted(args.firmware);
    else if (args.demoImage)
        command += " --demo-image";
    return command;
}

// The summary's cause of a failure: what happened, in words, with the code,
// as whole sentences.
std::string FailureCause(const UpdateWorkflow& workflow, int result, const AppState& state, const UpdateArgs& args)
{
    const UpdateStep step = workflow.FailedStep();
    if (step == UpdateStep::OnePortSettingsFile) {
        const std::string file = "the settings file " + workflow.OnePortFileNote() +
                                 " of an earlier, unfinished update with one port";
        const std::string code = " (" + std::to_string(result) + ")";
        return file + " may hold this " + state.deviceName + "'s calibration: the settings just read do not match it" +
               code + "; nothing was erased.\nFinish this instrument on its own: " + OnePortCommand(args) +
               " --settings-from saved (restore that file after the update) or --settings-from device (go on "
               "with the device's settings; the file moves to the archive).";
    }
    if (step == UpdateStep::Stopped) {
        std::string text = "stopped on request before " + workflow.StoppedBefore() +
                           ": nothing on the device was changed (" + std::to_string(result) + ").";
        if (workflow.StoppedBefore() == "the firmware was erased")
            text += "\nThe " + state.deviceName +
                    " waits in its firmware loader with its old firmware: run the same command again to finish "
                    "the update, or switch the device off and on to leave it as it was.";
        return text;
    }
    if (step == UpdateStep::WhichInstrument && result == result::kStopped) {
        const std::string archive = SettingsArchive(state.dataFolder, state.deviceName).Folder();
        const std::string how = "--settings-file FILE (one of the files listed above, or one of " + archive +
                                ") to restore that instrument's settings, or with --no-settings to update it without "
                                "settings (the run then ends with exit 7).";
        const std::string which = "this " + state.deviceName +
                                  " waits in its firmware loader and cannot say which instrument it is; nothing was "
                                  "written (-40).\n";
        if (args.ports.size() > 1)
            return which + "Finish it on its own: " + OnePortCommand(args) + " with " + how;
        return which + "Run again with " + how;
    }
    if (step == UpdateStep::SettingsInUse)
        return LineCause(result) + "; nothing was changed on the device. Let the other update finish, then run "
                                   "this command again.";
    if (step == UpdateStep::SettingsConflict)
        return "the settings file " + state.settingsFilePath +
               " from an earlier, unfinished update differs from the device's settings (" + std::to_string(result) +
               ").\nRun again with --settings-from saved (restore that file after the update) or --settings-from "
               "device (go on with the device's settings; the file moves to the archive).";
    if (step == UpdateStep::Connect) {
        std::string port = PortProblem(workflow.ConnectResult(), args.port);
        return port.empty() ? LineCause(workflow.ConnectResult()) + "." : port;
    }
    if (result == result::kBatteryUnreadable)
        return "the battery level of the " + state.deviceName +
               " could not be read (-131): an update on a flat battery could stop half-way.\nCharge or replace the "
               "batteries and try again.";
    if (result == result::kBatteriesLow)
        return "the battery is at " + std::to_string(workflow.BatteryPercent()) +
               "%; the update needs at least 10% (-130).";
    if (result == result::kWrongDevice) {
        const std::string found = state.deviceIdentity.displayName;
        if (args.firmware.empty())
            return "this build updates only a " + state.deviceName + "; the device on " + args.port + " is a " +
                   found + " (-121).\nFor a " + found + ", give its firmware file with --firmware (named like " +
                   FileNameRule(state.deviceIdentity.type) + ").";
        std::string text = "the firmware file " + BaseName(args.firmware) + " is for a " + state.deviceName +
                           "; the device on " + args.port + " is a " + found + " (-121).\n";
        if (state.deviceIdentity.type == BuildTarget::kDeviceType)
            text += "Leave out --firmware to load the built-in " + found + " firmware (" +
                    DeviceTypeModelWord(BuildTarget::kDeviceType) + " " + VersionText(BuildTarget::kVersion) +
                    "), or choose ";
        else
            text += "Choose ";
        return text + "the firmware file for a " + found + " (named like " + FileNameRule(state.deviceIdentity.type) +
               ").";
    }
    if (result == result::kCannotUpdate)
        return "the " + state.deviceName + "'s firmware " + VersionText(state.deviceIdentity.versionNumber) +
               " is too old for this updater (-120).";
    return LineCause(result) + ".";
}

std::string SettingsRetrieveUnanswered(const AppState& state)
{
    return "the settings of this " + state.deviceName +
           " could not be read, and it is not new: it named a serial number or settings. --yes does not answer "
           "\"Settings Retrieve Error\" for it; nothing was erased (-40).\nTry again; to update it without its "
           "settings, answer the question on a terminal.";
}

// A failure while the flash was being erased or written leaves the device in
// its loader, as does a loader that stopped answering after it was found
// there; the next run finds it there and finishes.
bool LeftInLoader(const UpdateWorkflow& workflow)
{
    const UpdateStep step = workflow.FailedStep();
    const bool startedInLoader = result::InLoader(workflow.ConnectResult());
    return step == UpdateStep::Erase || step == UpdateStep::Upload || (step == UpdateStep::Loader && startedInLoader);
}

SetupOptions SetupFor(const UpdateArgs& args, const std::string& fileTag)
{
    SetupOptions setup;
    setup.repMode = !args.firmware.empty();
    setup.factoryMode = !args.newSn.empty();
    setup.verboseLog = args.verbose;
    setup.dataFolder = args.dataDir;
    setup.logFilePath = args.logFile;
    setup.fileTag = fileTag;
    return setup;
}

SettingsChoice SettingsChoiceFrom(const std::string& settingsFrom)
{
    if (settingsFrom == "saved")
        return SettingsChoice::Saved;
    if (settingsFrom == "device")
        return SettingsChoice::Device;
    return SettingsChoice::Stop;
}

const char* SettingsChoiceWord(SettingsChoice choice)
{
    switch (choice) {
    case SettingsChoice::Saved:
        return "saved";
    case SettingsChoice::Device:
        return "device";
    case SettingsChoice::Stop:
        break;
    }
    return "none";
}

std::string ImageLabel(const AppState& state, const UpdateArgs& args)
{
    return std::string(args.firmware.empty() ? BuildTarget::kLabel : state.bootloader->TargetName());
}

bool ErasesData(const AppState& state, const UpdateArgs& args)
{
    return DeviceTypeInfo(state.bootloader->TargetType()).eraseData && !args.keepData;
}

nlohmann::json StartEvent(const AppState& state, const UpdateWorkflow& workflow, const UpdateArgs& args,
                          bool imageReady)
{
    const DeviceIdentity& id = state.deviceIdentity;
    const bool inLoader = result::InLoader(workflow.ConnectResult());
    Kelo_protocol& instrument = *state.instrument;
    const char* sn = !instrument.SettingsHeld()      ? ""
                     : IsLoggerType(id.type)          ? instrument.LoggerSettings().sn
                                                      : instrument.InstrumentSettings().sn;
    nlohmann::json null;
    return nlohmann::json{{"event", "start"},
                          {"port", args.port},
                          {"deviceType", id.type},
                          {"deviceName", id.type ? nlohmann::json(id.displayName) : null},
                          {"serialNumber", sn[0] ? nlohmann::json(sn) : null},
                          {"deviceVersion", id.versionNumber ? nlohmann::json(VersionText(id.versionNumber)) : null},
                          {"inFirmwareLoader", inLoader},
                          {"image", imageReady ? nlohmann::json(ImageLabel(state, args)) : null},
                          {"imageVersion", imageReady ? nlohmann::json(VersionText(state.targetVersion)) : null},
                          {"eraseData", imageReady && ErasesData(state, args)}};
}

std::string UpdateChecksProblem(const UpdateArgs& args)
{
    if (!args.newSn.empty() && args.ports.size() > 1)
        return "--new-sn gives one serial number, and a serial number must never go to two instruments: with "
               "several ports give --new-sn-from FILE, a list of serial numbers (one a line), each handed to "
               "one device";
    if (!args.newSn.empty() && !args.newSnFrom.empty())
        return "give --new-sn or --new-sn-from, not both";
    if (!args.newSnFrom.empty() && !std::filesystem::is_regular_file(args.newSnFrom))
        return "the serial number list " + args.newSnFrom + " is not there: give a text file with one serial "
               "number a line";
    if (!args.newSn.empty()) {
        std::string why = CheckNewSerialNumber(args.newSn);
        if (!why.empty())
            return why;
    }
    const std::string folder = args.dataDir.empty() ? DefaultDataFolder() : args.dataDir;
    if (!folder.empty()) {
        std::string why = DataFolderProblem(folder);
        if (!why.empty())
            return why;
    }
    if (args.firmware.empty() && BuiltInImageIsDemo() && !args.demoImage) {
        return std::string("the built-in firmware of this build is a demonstration image (") + BuildTarget::kLabel +
               ") that runs only in kelosim; written to a real instrument it leaves it without working firmware.\n" +
               "Build with the maker's image: cmake -DKELO_BUILTIN_IMAGE=/path/to/R7F-M-mp.txt ..., " +
               "or give --firmware FILE; --demo-image writes the demonstration image anyway";
    }
    return {};
}
