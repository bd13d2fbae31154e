#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "AppSetup.h"
#include "CliUi.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Timing.h"
#include "UpdateTexts.h"
#include "UpdateWorkflow.h"

namespace {

int ExitCodeFor(int result, const UpdateWorkflow& workflow, bool keepGoing, bool conflictUnanswered)
{
    const UpdateStep step = workflow.FailedStep();
    const int connectResult = workflow.ConnectResult();
    if (result >= 0) {
        // No settings file at all (-102) was reported; there is nothing to keep.
        if (!workflow.SettingsRestored() && workflow.RestoreResult() != -102)
            return exit_code::kSettingsNotRestored;
        return exit_code::kSuccess;
    }
    if (step == UpdateStep::SettingsConflict)
        return conflictUnanswered ? exit_code::kUsage : exit_code::kCancelled;
    if (step == UpdateStep::Connect && connectResult == -120)
        return exit_code::kWrongDevice;  // the device answered: its firmware is not one we update
    if (result == -40 && (!keepGoing || step == UpdateStep::Question))
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
    case UpdateStep::SaveSettings: return "save-settings";
    case UpdateStep::SettingsConflict: return "settings-conflict";
    case UpdateStep::Loader: return "loader";
    case UpdateStep::LoaderMissing: return "loader-missing";
    case UpdateStep::Erase: return "erase";
    case UpdateStep::Upload: return "upload";
    case UpdateStep::Reconnect: return "reconnect";
    case UpdateStep::FirmwareCheck: return "firmware-check";
    case UpdateStep::DataErase: return "data-erase";
    case UpdateStep::Done: return "done";
    }
    return "none";
}

std::string BaseName(const std::string& path)
{
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string CheckNewSerialNumber(const std::string& sn)
{
    if (sn.empty())
        return "the new serial number is empty";
    for (unsigned char c : sn)
        if (c < 0x20 || c == 0x7F)
            return "the new serial number holds a control character; use letters, digits and punctuation only";
    if (sn.size() > 15)
        return "the new serial number has " + std::to_string(sn.size()) +
               " characters; a device holds at most 15";
    return {};
}

int RunUpdateCommand(const UpdateArgs& args)
{
    if (!args.newSn.empty()) {
        std::string why = CheckNewSerialNumber(args.newSn);
        if (!why.empty()) {
            std::cerr << "kelobsl-cli: " << why << ".\n";
            return exit_code::kUsage;
        }
    }

    if (args.firmware.empty() && BuiltInImageIsDemo() && !args.demoImage) {
        std::cerr << "kelobsl-cli: the built-in firmware of this build is a demonstration image (" << BuildTarget::kLabel
                  << ") that runs only in kelosim; written to a real instrument it leaves it without working firmware.\n"
                  << "Build with the maker's image: cmake -DKELO_BUILTIN_IMAGE=/path/to/R7F-M-mp.txt ..., "
                  << "or give --firmware FILE; --demo-image writes the demonstration image anyway.\n";
        return exit_code::kUsage;
    }

    AppState state;
    SetupOptions setup;
    setup.repMode = !args.firmware.empty();
    setup.factoryMode = !args.newSn.empty() || args.keepData;
    setup.verboseLog = args.verbose;
    setup.dataFolder = args.dataDir;
    setup.logFilePath = args.logFile;
    std::string error;
    if (!SetUpAppState(state, setup, &error)) {
        std::cerr << "kelobsl-cli: " << error << ".\n";
        return exit_code::kUsage;
    }

    CliUi ui(state, CliUi::Options{args.json, args.yes, args.settingsFrom});

    if (!args.firmware.empty()) {
        int loaded = state.bootloader->BSLLoadTIFile(args.firmware.c_str());
        if (loaded < 0) {
            ui.ShowMessage(texts::FileError(loaded, state.caption, BaseName(args.firmware)), "File Error",
                           MessageKind::Error);
            ui.Result(loaded, exit_code::kUsage, 0, "firmware-file", state.logFilePath);
            CloseAppState(state);
            return exit_code::kUsage;
        }
        AdoptLoadedFirmware(state);
    }

    state.commPortName = args.port;
    std::snprintf(state.portList[0].portName, sizeof state.portList[0].portName, "%s", args.port.c_str());
    std::snprintf(state.portList[0].displayText, sizeof state.portList[0].displayText, "%s", args.port.c_str());
    state.commPortIndex = 0;
    state.replaceSerialNumber = !args.newSn.empty();
    state.newSerialNumber = args.newSn;
    state.dontEraseData = args.keepData;

    CliUi::InstallInterruptHandler();
    // Long waits sleep in short slices so that Ctrl+C is noticed promptly.
    SetEventPump([&ui](uint32_t maxWaitMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs < 50 ? maxWaitMs : 50));
        ui.HandleInterrupts();
    });

    if (!args.json)
        std::cout << "Updating " << state.deviceName << " on " << args.port << " to "
                  << (args.firmware.empty() ? BuildTarget::kLabel : state.bootloader->TargetName())
                  << (args.firmware.empty() && BuiltInImageIsDemo() ? " (" + texts::DemoImageNote() + ")" : "")
                  << "\n";

    UpdateWorkflow workflow(state, ui);
    int result = workflow.TimerStartTimer();
    SetEventPump(nullptr);

    int exitCode = ExitCodeFor(result, workflow, state.keepGoing, ui.ConflictUnanswered());
    ui.Result(result, exitCode, workflow.ElapsedSeconds(), StepName(workflow.FailedStep()), state.logFilePath);
    if (exitCode == exit_code::kUsage && ui.ConflictUnanswered())
        std::cerr << "kelobsl-cli: the settings file " << state.settingsFilePath
                  << " from an earlier, unfinished update differs from the device's settings. Run again with "
                     "--settings-from saved (restore that file after the update) or --settings-from device "
                     "(go on with the device's settings; the file moves to the archive).\n";
    if (!args.json) {
        if (result < 0)
            std::cout << "Update failed (" << result << "). The settings file is kept: "
                      << state.settingsFilePath << "\n";
        else if (exitCode == exit_code::kSettingsNotRestored)
            std::cout << "Firmware updated, but the settings were not (fully) restored (" << workflow.RestoreResult()
                      << "). The settings file is kept: " << state.settingsFilePath << "\n";
        std::cout << "Log: " << state.logFilePath << "\n";
    }
    CloseAppState(state);
    return exitCode;
}
