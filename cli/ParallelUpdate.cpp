// kelobsl-cli update --port A --port B ...: every port's update on its own
// thread with its own state, protocol objects, log and settings file. The
// threads share only the ProgressBoard (the screen), the Ctrl+C count and the
// firmware image, loaded once before they start.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

#include "AppSetup.h"
#include "CauseWords.h"
#include "CliUi.h"
#include "ExitCodes.h"
#include "PortShortName.h"
#include "PortUi.h"
#include "ProgressBoard.h"
#include "ResultTable.h"
#include "Timing.h"
#include "UpdateOutcome.h"

namespace {

// What the run prints after the table about one port.
struct PortNotes {
    std::string settingsKept;
    std::string log;
    bool leftInLoader = false;
    std::string device;
};

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return std::round(duration<double>(steady_clock::now() - start).count() * 10.0) / 10.0;
}

PortResult UpdateOnePort(const UpdateArgs& runArgs, const std::string& port, const std::string& fileTag, int row,
                         const std::shared_ptr<const FirmwareImage>& image, ProgressBoard& board, PortNotes* notes)
{
    UpdateArgs args = runArgs;
    args.port = port;
    PortResult outcome;
    outcome.port = port;
    outcome.device = "-";
    outcome.oldVersion = "-";
    const auto start = std::chrono::steady_clock::now();

    AppState state;
    std::string error;
    if (!SetUpAppState(state, SetupFor(args, fileTag), &error)) {
        outcome.exitCode = exit_code::kUsage;
        outcome.message = error + ".";
        return outcome;
    }
    PortUi ui(state, board, row, PortUi::Options{args.yes, args.settingsFrom});
    UpdateWorkflow workflow(state, ui);
    workflow.AnswerWhichInstrument(args.settingsFile, args.noSettings);
    if (args.json)
        ui.SetStartEvent([&] { return StartEvent(state, workflow, args, true).dump(); });
    if (image)
        AdoptFirmware(state, image);
    AimAtPort(state, args);
    // A file named without a version loads no "0.00".
    outcome.newVersion = state.bootloader->ImageVersionKnown() ? VersionText(state.targetVersion) : "unknown";

    // Waits on this thread run this port's pump only.
    SetEventPump([&ui](uint32_t maxWaitMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs < 50 ? maxWaitMs : 50));
        ui.HandleInterrupts();
    });
    const int result = workflow.TimerStartTimer();
    SetEventPump(nullptr);

    outcome.seconds = SecondsSince(start);
    outcome.exitCode = ExitCodeFor(result, workflow, state.keepGoing, ui.ConflictUnanswered());
    if (outcome.exitCode == exit_code::kUsage && workflow.FailedStep() == UpdateStep::Question)
        outcome.message = SettingsRetrieveUnanswered(state);
    else if (result < 0)
        outcome.message = FailureCause(workflow, result, state, args);
    else if (outcome.exitCode == exit_code::kSettingsNotRestored)
        outcome.message = "settings not (fully) restored: " + workflow.SettingsNote() + ".";
    if (state.deviceIdentity.type)
        outcome.device = state.deviceIdentity.displayName;
    if (!ui.OldVersion().empty())
        outcome.oldVersion = ui.OldVersion();
    else if (result::InLoader(workflow.ConnectResult()))
        outcome.oldVersion = "(loader)";

    notes->device = state.deviceName;
    notes->leftInLoader = result < 0 && LeftInLoader(workflow);
    if (outcome.exitCode != exit_code::kSuccess && workflow.FailedStep() != UpdateStep::WhichInstrument &&
        std::filesystem::exists(state.settingsFilePath))
        notes->settingsKept = state.settingsFilePath;
    const std::string logPath = state.logFilePath;
    const UpdateStep step = workflow.FailedStep();
    CloseAppState(state);  // drops an empty log
    if (std::filesystem::exists(logPath))
        notes->log = logPath;

    board.SetDevice(row, outcome.device);
    board.SetDone(row, ResultWords(outcome.exitCode));
    nlohmann::json event{{"event", "result"},     {"code", result},
                         {"exit", outcome.exitCode}, {"seconds", outcome.seconds},
                         {"step", StepName(step)}, {"inFirmwareLoader", notes->leftInLoader},
                         {"log", notes->log.empty() ? nlohmann::json(nullptr) : nlohmann::json(notes->log)}};
    if (result < 0)
        event["cause"] = outcome.message;
    if (!notes->settingsKept.empty())
        event["settingsFile"] = notes->settingsKept;
    ui.Result(event);
    return outcome;
}

}  // namespace

int RunParallelUpdate(const UpdateArgs& args)
{
    if (std::string why = UpdateChecksProblem(args); !why.empty()) {
        std::cerr << "kelobsl-cli: " << why << ".\n";
        return exit_code::kUsage;
    }
    if (!args.settingsFile.empty()) {
        std::cerr << "kelobsl-cli: --settings-file answers for one device: update its port alone with it.\n";
        return exit_code::kUsage;
    }
    std::shared_ptr<const FirmwareImage> image;  // null: the built-in one
    if (!args.firmware.empty()) {
        const int loaded = FirmwareImage::Load(args.firmware.c_str(), nullptr, &image);
        std::string why = loaded < 0 ? FirmwareFileProblem(loaded, args.firmware)
                          : image->TargetType() == 0 ? "the file name names no device type"
                                                     : "";
        if (!why.empty()) {
            std::cerr << "kelobsl-cli: update not started: " << args.firmware << ": " << why << ".\n";
            return exit_code::kUsage;
        }
    }

    const ProgressBoard::Mode mode = args.json                    ? ProgressBoard::Mode::Json
                                     : ::isatty(STDOUT_FILENO) != 0 ? ProgressBoard::Mode::Terminal
                                                                    : ProgressBoard::Mode::Plain;
    const std::vector<std::string> tags = PortShortNames(args.ports);
    if (!args.json) {
        std::cout << "Updating " << args.ports.size() << " devices at the same time:";
        for (std::size_t i = 0; i < args.ports.size(); ++i)
            std::cout << (i ? ", " : " ") << args.ports[i] << (args.ports[i] == tags[i] ? "" : " (" + tags[i] + ")");
        std::cout << ".\nEach port has its own settings file and log, named with the port's short name.\n"
                  << std::flush;
    }

    CliUi::InstallInterruptHandler();
    std::vector<PortResult> results(args.ports.size());
    std::vector<PortNotes> notes(args.ports.size());
    {
        ProgressBoard board(args.ports, tags, mode);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < args.ports.size(); ++i)
            threads.emplace_back([&, i] {
                results[i] = UpdateOnePort(args, args.ports[i], tags[i], static_cast<int>(i), image, board, &notes[i]);
            });
        for (std::thread& thread : threads)
            thread.join();
        board.Stop();
    }

    const int exitCode = CombinedExitCode(results);
    if (args.json) {
        nlohmann::json ports = nlohmann::json::array();
        for (const PortResult& r : results)
            ports.push_back({{"port", r.port}, {"device", r.device}, {"oldVersion", r.oldVersion},
                             {"newVersion", r.newVersion}, {"exit", r.exitCode}, {"seconds", r.seconds},
                             {"message", r.message}});
        std::cout << nlohmann::json{{"event", "summary"}, {"exit", exitCode}, {"ports", ports}}.dump() << '\n';
        return exitCode;
    }
    std::cout << '\n' << ResultTable(results);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const PortNotes& n = notes[i];
        if (!n.settingsKept.empty())
            std::cout << results[i].port << ": the settings file is kept: " << n.settingsKept << "\n";
        if (!n.log.empty())
            std::cout << results[i].port << ": log: " << n.log << "\n";
    }
    // A rerun with several ports asks which instrument a device in its
    // loader is; on its own, with its file named, the port needs no question.
    for (std::size_t i = 0; i < results.size(); ++i)
        if (notes[i].leftInLoader)
            std::cout << results[i].port << ": the " << notes[i].device << " is left in its firmware loader. "
                      << "Finish it on its own: the same command with only --port " << results[i].port
                      << (notes[i].settingsKept.empty() ? std::string()
                                                        : " and --settings-file \"" + notes[i].settingsKept + "\"")
                      << ".\n";
    std::cout << (exitCode == 0 ? "All " + std::to_string(results.size()) + " devices updated."
                                : "Exit code " + std::to_string(exitCode) + ": the highest of the ports' codes.")
              << "\n" << std::flush;
    return exitCode;
}
