// kelobsl-cli update with one --port: the run of one update on the terminal.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "AppSetup.h"
#include "CauseWords.h"
#include "CliUi.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "Timing.h"
#include "UpdateOutcome.h"
#include "UpdateTexts.h"
#include "UpdateWorkflow.h"

static double SecondsSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return std::round(duration<double>(steady_clock::now() - start).count() * 10.0) / 10.0;
}

int RunUpdateCommand(const UpdateArgs& args)
{
    if (args.ports.size() > 1)
        return RunParallelUpdate(args);
    if (std::string why = UpdateChecksProblem(args); !why.empty()) {
        std::cerr << "kelobsl-cli: " << why << ".\n";
        return exit_code::kUsage;
    }

    AppState state;
    std::string error;
    if (!SetUpAppState(state, SetupFor(args), &error)) {
        std::cerr << "kelobsl-cli: " << error << ".\n";
        return exit_code::kUsage;
    }

    CliUi ui(state, CliUi::Options{args.json, args.yes, args.settingsFrom});
    const auto start = std::chrono::steady_clock::now();
    UpdateWorkflow workflow(state, ui);
    workflow.AnswerWhichInstrument(args.settingsFile, args.noSettings);
    bool imageReady = args.firmware.empty();
    auto image = [&] { return ImageLabel(state, args); };
    auto erasesData = [&] { return ErasesData(state, args); };
    if (args.json)
        ui.SetStartEvent([&] { return StartEvent(state, workflow, args, imageReady).dump(); });

    if (!args.firmware.empty()) {
        int loaded = state.bootloader->BSLLoadTIFile(args.firmware.c_str());
        if (loaded < 0) {
            ui.ShowMessage(texts::FileError(loaded, state.caption, BaseName(args.firmware)), "File Error",
                           MessageKind::Error);
            const std::string why = FirmwareFileProblem(loaded, args.firmware);
            if (args.json)
                ui.Result(nlohmann::json{{"event", "result"}, {"code", loaded}, {"exit", exit_code::kUsage},
                                         {"seconds", SecondsSince(start)}, {"step", "firmware-file"},
                                         {"cause", why}}
                              .dump());
            else
                std::cout << "Update not started: " << BaseName(args.firmware) << ": " << why << ".\n";
            CloseAppState(state);
            return exit_code::kUsage;
        }
        // A file for no known type would be written blind to a device found
        // in its loader: refuse it before any device is touched.
        if (state.bootloader->TargetType() == 0) {
            ui.ShowMessage(texts::UnknownFirmwareType(BaseName(args.firmware)), "File Error", MessageKind::Error);
            const std::string why = "the file name names no device type";
            if (args.json)
                ui.Result(nlohmann::json{{"event", "result"}, {"code", -100}, {"exit", exit_code::kUsage},
                                         {"seconds", SecondsSince(start)}, {"step", "firmware-file"},
                                         {"cause", why}}
                              .dump());
            else
                std::cout << "Update not started: " << BaseName(args.firmware) << ": " << why << ".\n";
            CloseAppState(state);
            return exit_code::kUsage;
        }
        AdoptLoadedFirmware(state);
        imageReady = true;
    }

    AimAtPort(state, args);

    if (!args.json) {
        std::cout << "Updating " << state.deviceName << " on " << args.port << " to " << image()
                  << (!args.firmware.empty()   ? ""
                      : BuiltInImageIsDemo() ? " (" + texts::DemoImageNote() + ")"
                                             : " (built-in image)")
                  << (state.bootloader->ImageVersionKnown() ? "" : " (version unknown: the file name gives none)")
                  << "\n";
        if (erasesData())
            std::cout << "This update erases the measurements stored in the " << state.deviceName
                      << ": download them first, or add --keep-data to keep them.\n";
    }

    CliUi::InstallInterruptHandler();
    // Long waits sleep in short slices so that Ctrl+C is noticed promptly.
    SetEventPump([&ui](uint32_t maxWaitMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs < 50 ? maxWaitMs : 50));
        ui.HandleInterrupts();
    });

    int result = workflow.TimerStartTimer();
    SetEventPump(nullptr);
    const double seconds = SecondsSince(start);

    const UpdateStep step = workflow.FailedStep();
    const int exitCode = ExitCodeFor(result, workflow, state.keepGoing, ui.ConflictUnanswered());
    const std::string cause = exitCode == exit_code::kUsage && step == UpdateStep::Question
                                  ? SettingsRetrieveUnanswered(state)
                              : result < 0 ? FailureCause(workflow, result, state, args)
                                           : "";
    const bool inLoader = result < 0 && LeftInLoader(workflow);
    // A device that cannot say which instrument it is owns no file yet: the question listed them.
    const bool settingsKept = exitCode != exit_code::kSuccess && step != UpdateStep::WhichInstrument &&
                              std::filesystem::exists(state.settingsFilePath);
    const std::string logPath = state.logFilePath;
    CloseAppState(state);  // drops an empty log
    const bool logWritten = std::filesystem::exists(logPath);

    if (args.json) {
        nlohmann::json event{{"event", "result"}, {"code", result},           {"exit", exitCode},
                             {"seconds", seconds}, {"step", StepName(step)}, {"inFirmwareLoader", inLoader},
                             {"log", logWritten ? nlohmann::json(logPath) : nlohmann::json(nullptr)}};
        if (result < 0)
            event["cause"] = cause;
        if (settingsKept)
            event["settingsFile"] = state.settingsFilePath;
        ui.Result(event.dump());
        return exitCode;
    }
    if (result < 0) {
        std::cout << "Update failed: " << cause << "\n";
        if (settingsKept)
            std::cout << "The settings file is kept: " << state.settingsFilePath << "\n";
    } else if (exitCode == exit_code::kSettingsNotRestored) {
        std::cout << "Firmware updated, but the settings were not (fully) restored: " << workflow.SettingsNote()
                  << ".\n";
        if (settingsKept)
            std::cout << "The settings file is kept: " << state.settingsFilePath << "\n"
                      << "Write it back once the cause is mended: kelobsl-cli restore-settings --port "
                      << Quoted(args.port) << " --file " << Quoted(state.settingsFilePath) << "\n";
    }
    if (logWritten)
        std::cout << "Log: " << logPath << "\n";
    // Last, so that it is what the person reads when the command ends.
    if (inLoader)
        std::cout << "The " << state.deviceName << " is left in its firmware loader. "
                  << "Run the same command again: it finishes the update and restores the saved settings.\n";
    return exitCode;
}
