#include "PortUpdate.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "AppSetup.h"
#include "CauseWords.h"
#include "CliUi.h"
#include "DataFolder.h"
#include "ExitCodes.h"
#include "FirmwareImage.h"
#include "Result.h"
#include "SerialNumberList.h"
#include "UpdateHistory.h"
#include "Timing.h"
#include "UpdateOutcome.h"
#include "UpdateTexts.h"
#include "UpdateWorkflow.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return std::round(duration<double>(steady_clock::now() - start).count() * 10.0) / 10.0;
}

// Loads --firmware for the state; the problem in words when it is refused.
std::string LoadFirmware(AppState& state, const std::string& path, UpdateUi& ui, int* code)
{
    std::shared_ptr<const FirmwareImage> file;
    InputFileStatus problem = InputFileStatus::Ok;
    *code = FirmwareImage::Load(path.c_str(), state.log.get(), &file, &problem);
    if (*code < 0) {
        ui.ShowMessage(texts::FileError(*code, problem, state.caption, BaseName(path)), "File Error",
                       MessageKind::Error);
        return FirmwareFileProblem(*code, path);
    }
    // A file for no known type would be written blind to a device found
    // in its loader: refuse it before any device is touched.
    if (file->TargetType() == 0) {
        *code = result::kNotFirmware;
        ui.ShowMessage(texts::UnknownFirmwareType(BaseName(path)), "File Error", MessageKind::Error);
        return "the file name names no device type";
    }
    AdoptFirmware(state, file);
    return {};
}

// What a run of one port says before it starts.
std::string Heading(const AppState& state, const UpdateArgs& args)
{
    std::string text = "Updating " + state.deviceName + " on " + args.port + " to " + ImageLabel(state, args) +
                       (!args.firmware.empty()   ? ""
                        : BuiltInImageIsDemo() ? " (" + texts::DemoImageNote() + ")"
                                               : " (built-in image)") +
                       (state.bootloader->ImageVersionKnown() ? "" : " (version unknown: the file name gives none)") +
                       "\n";
    if (ErasesData(state, args))
        text += "This update erases the measurements stored in the " + state.deviceName +
                ": download them first, or add --keep-data to keep them.\n";
    return text;
}

UpdateRequest RequestFor(const AppState& state, const UpdateArgs& args)
{
    UpdateRequest request;
    request.port = args.port;
    request.image = ImageLabel(state, args);
    request.newSerialNumber = args.newSn;
    request.keepData = args.keepData;
    request.settingsFile = args.settingsFile;
    request.noSettings = args.noSettings;
    return request;
}

PortRun UpdateWithArgs(const UpdateArgs& args, const std::string& fileTag, UiSink& sink,
                       const std::shared_ptr<const FirmwareImage>& image)
{
    PortRun run;
    run.row.port = args.port;
    run.row.device = "-";
    run.row.oldVersion = "-";
    const auto start = std::chrono::steady_clock::now();

    AppState state;
    std::string error;
    if (!SetUpAppState(state, SetupFor(args, fileTag), &error)) {
        run.setupError = error;
        run.row.exitCode = exit_code::kUsage;
        run.row.message = error + ".";
        return run;
    }
    run.deviceName = state.deviceName;
    CliUi ui(state, sink, CliUi::Options{args.yes, args.settingsFrom, args.ports.size() > 1 ? args.port : ""});
    UpdateWorkflow workflow(state, ui);
    bool imageReady = args.firmware.empty();
    sink.SetStartEvent([&] { return StartEvent(state, workflow, args, imageReady); });

    if (image) {
        AdoptFirmware(state, image);
        imageReady = true;
    } else if (!args.firmware.empty()) {
        int code = 0;
        run.fileProblem = LoadFirmware(state, args.firmware, ui, &code);
        if (!run.fileProblem.empty()) {
            run.row.exitCode = exit_code::kUsage;
            run.row.message = run.fileProblem + ".";
            sink.Result({{"event", "result"}, {"code", code}, {"exit", exit_code::kUsage},
                         {"seconds", SecondsSince(start)}, {"step", "firmware-file"}, {"cause", run.fileProblem}});
            CloseAppState(state);
            return run;
        }
        imageReady = true;
    }
    // A file named without a version loads no "0.00".
    run.row.newVersion = state.bootloader->ImageVersionKnown() ? VersionText(state.targetVersion) : "unknown";
    sink.Heading(Heading(state, args));

    // Waits on this thread run this port's pump only; they sleep in short
    // slices so that Ctrl+C is noticed promptly.
    SetEventPump([&ui](uint32_t maxWaitMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs < 50 ? maxWaitMs : 50));
        ui.HandleInterrupts();
    });
    const UpdateOutcome outcome = workflow.Run(RequestFor(state, args));
    SetEventPump(nullptr);
    run.result = outcome.result;

    const UpdateStep step = outcome.step;
    run.row.seconds = SecondsSince(start);
    run.row.exitCode = ExitCodeFor(run.result, workflow, state.keepGoing, ui.ConflictUnanswered());
    if (run.row.exitCode == exit_code::kUsage && step == UpdateStep::Question)
        run.row.message = SettingsRetrieveUnanswered(state);
    else if (run.result < 0)
        run.row.message = FailureCause(workflow, run.result, state, args);
    else if (run.row.exitCode == exit_code::kSettingsNotRestored)
        run.row.message = "settings not (fully) restored: " + workflow.SettingsNote() + ".";
    if (outcome.device.type)
        run.row.device = outcome.device.displayName;
    if (!ui.OldVersion().empty())
        run.row.oldVersion = ui.OldVersion();
    else if (result::InLoader(outcome.connectResult))
        run.row.oldVersion = "(loader)";
    run.settingsNote = outcome.settingsNote;
    run.newSerialNumber = workflow.LastRecord().newSerialNumber;
    run.leftInLoader = run.result < 0 && LeftInLoader(workflow);
    // A device that cannot say which instrument it is owns no file yet: the question listed them.
    if (run.row.exitCode != exit_code::kSuccess && step != UpdateStep::WhichInstrument &&
        std::filesystem::exists(outcome.settingsFile))
        run.settingsKept = outcome.settingsFile;
    CloseAppState(state);  // drops an empty log
    if (std::filesystem::exists(outcome.logFile))
        run.log = outcome.logFile;

    sink.Done(run.row.device, run.row.exitCode);
    nlohmann::json event{{"event", "result"}, {"code", run.result}, {"exit", run.row.exitCode},
                         {"seconds", run.row.seconds}, {"step", StepName(step)},
                         {"inFirmwareLoader", run.leftInLoader},
                         {"log", run.log.empty() ? nlohmann::json(nullptr) : nlohmann::json(run.log)}};
    if (run.result < 0)
        event["cause"] = run.row.message;
    if (!run.settingsKept.empty())
        event["settingsFile"] = run.settingsKept;
    sink.Result(event);
    return run;
}

}  // namespace


PortRun UpdatePort(const UpdateArgs& args, const std::string& fileTag, UiSink& sink,
                   const std::shared_ptr<const FirmwareImage>& image)
{
    if (args.newSnFrom.empty())
        return UpdateWithArgs(args, fileTag, sink, image);

    const std::string folder = args.dataDir.empty() ? DefaultDataFolder() : args.dataDir;
    SerialNumberList list(args.newSnFrom, (std::filesystem::path(folder) / UpdateHistory::kFileName).string());
    UpdateArgs numbered = args;
    std::string note;
    std::string error;
    const SerialNumberList::Take taken =
        list.TakeForUpdate(args.port, &numbered.newSn, &note, &error);
    if (taken != SerialNumberList::Take::Taken) {
        // Nothing was written to the device: it is left as it is.
        PortRun run;
        run.row.port = args.port;
        run.row.device = "-";
        run.row.oldVersion = "-";
        run.row.exitCode = exit_code::kUsage;
        const std::string why = taken == SerialNumberList::Take::NoneLeft ? note : error;
        run.row.message = why + ".";
        run.numberNote = note;
        sink.Block("Serial Numbers", run.row.message);
        UpdateRecord device;
        device.port = args.port;
        const UpdateHistory history(folder);
        if (!history.AppendUntouched(device, why, &error))
            sink.Block("Update History", "could not add the device to the history " + history.Path() + ": " + error + ".");
        sink.Done("-", run.row.exitCode);
        sink.Result({{"event", "result"}, {"code", nullptr}, {"exit", run.row.exitCode}, {"seconds", 0},
                     {"step", "serial-number"}, {"cause", run.row.message}});
        return run;
    }
    if (!note.empty())
        sink.Block("Serial Numbers", note + ".");
    PortRun run = UpdateWithArgs(numbered, fileTag, sink, image);
    run.numberNote = note;
    const bool settled =
        list.Settle(numbered.newSn, run.newSerialNumber, run.row.device, args.port, run.row.newVersion, &error);
    if (!settled) {
        // The device is as the run says; only the list could not follow.
        sink.Block("Serial Numbers", error + ".");
        run.numberNote += (run.numberNote.empty() ? "" : "; ") + error;
    }
    return run;
}
