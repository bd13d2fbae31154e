// kelobsl-cli update: one update per --port, at the same time when there are
// several. A run of one port shows scrolling lines; a run of several a board
// of rows and a table at the end; either, with --json, JSON lines.
#include <iostream>
#include <thread>

#include "CauseWords.h"
#include "CliUi.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "FirmwareImage.h"
#include "PortShortName.h"
#include "PortUpdate.h"
#include "ProgressBoard.h"
#include "UpdateOutcome.h"

namespace {

void WriteJsonLine(const std::string& line)
{
    std::cout << line << '\n' << std::flush;
}

int UpdateOnePort(const UpdateArgs& args)
{
    LineSink lines;
    JsonSink json(WriteJsonLine, "", nullptr);
    UiSink& sink = args.json ? static_cast<UiSink&>(json) : lines;
    CliUi::InstallInterruptHandler();
    const PortRun run = UpdatePort(args, "", sink);
    const int exitCode = run.row.exitCode;
    if (!run.setupError.empty()) {
        std::cerr << "kelobsl-cli: " << run.setupError << ".\n";
        return exitCode;
    }
    if (args.json)
        return exitCode;
    if (!run.fileProblem.empty()) {
        std::cout << "Update not started: " << BaseName(args.firmware) << ": " << run.fileProblem << ".\n";
        return exitCode;
    }
    if (run.result < 0) {
        std::cout << "Update failed: " << run.row.message << "\n";
        if (!run.settingsKept.empty())
            std::cout << "The settings file is kept: " << run.settingsKept << "\n";
    } else if (exitCode == exit_code::kSettingsNotRestored) {
        std::cout << "Firmware updated, but the settings were not (fully) restored: " << run.settingsNote << ".\n";
        if (!run.settingsKept.empty())
            std::cout << "The settings file is kept: " << run.settingsKept << "\n"
                      << "Write it back once the cause is mended: kelobsl-cli restore-settings --port "
                      << Quoted(args.port) << " --file " << Quoted(run.settingsKept) << "\n";
    }
    if (!run.log.empty())
        std::cout << "Log: " << run.log << "\n";
    // Last, so that it is what the person reads when the command ends.
    if (run.leftInLoader)
        std::cout << "The " << run.deviceName << " is left in its firmware loader. "
                  << "Run the same command again: it finishes the update and restores the saved settings.\n";
    return exitCode;
}

// Why a run of several ports cannot start, or empty. The firmware file is
// loaded here, once, and shared by every port (*image; null: built-in).
std::string SeveralPortsProblem(const UpdateArgs& args, std::shared_ptr<const FirmwareImage>* image)
{
    if (!args.settingsFile.empty())
        return "--settings-file answers for one device: update its port alone with it";
    if (args.firmware.empty())
        return {};
    const int loaded = FirmwareImage::Load(args.firmware.c_str(), nullptr, image);
    const std::string why = loaded < 0                    ? FirmwareFileProblem(loaded, args.firmware)
                            : (*image)->TargetType() == 0 ? "the file name names no device type"
                                                          : "";
    return why.empty() ? why : "update not started: " + args.firmware + ": " + why;
}

// What the run prints after the table.
void PrintSummary(const std::vector<PortRun>& runs, int exitCode)
{
    std::vector<PortResult> rows;
    for (const PortRun& run : runs)
        rows.push_back(run.row);
    std::cout << '\n' << ResultTable(rows);
    for (const PortRun& run : runs) {
        if (!run.settingsKept.empty())
            std::cout << run.row.port << ": the settings file is kept: " << run.settingsKept << "\n";
        if (!run.log.empty())
            std::cout << run.row.port << ": log: " << run.log << "\n";
    }
    // A rerun with several ports asks which instrument a device in its
    // loader is; on its own, with its file named, the port needs no question.
    for (const PortRun& run : runs)
        if (run.leftInLoader)
            std::cout << run.row.port << ": the " << run.deviceName << " is left in its firmware loader. "
                      << "Finish it on its own: the same command with only --port " << run.row.port
                      << (run.settingsKept.empty() ? std::string()
                                                   : " and --settings-file \"" + run.settingsKept + "\"")
                      << ".\n";
    std::cout << (exitCode == 0 ? "All " + std::to_string(runs.size()) + " devices updated."
                                : "Exit code " + std::to_string(exitCode) + ": the highest of the ports' codes.")
              << "\n" << std::flush;
}

// Every port's update on its own thread with its own state, protocol
// objects, log and settings file. The threads share only the ProgressBoard
// (the screen), the Ctrl+C count and the firmware image, loaded once.
int UpdateSeveralPorts(const UpdateArgs& args)
{
    std::shared_ptr<const FirmwareImage> image;
    if (std::string why = SeveralPortsProblem(args, &image); !why.empty()) {
        std::cerr << "kelobsl-cli: " << why << ".\n";
        return exit_code::kUsage;
    }
    const ProgressBoard::Mode mode = ProgressBoard::ModeFor(args.json);
    const std::vector<std::string> tags = PortShortNames(args.ports);
    if (!args.json) {
        std::cout << "Updating " << args.ports.size() << " devices at the same time:";
        for (std::size_t i = 0; i < args.ports.size(); ++i)
            std::cout << (i ? ", " : " ") << args.ports[i] << (args.ports[i] == tags[i] ? "" : " (" + tags[i] + ")");
        std::cout << ".\nEach port has its own settings file and log, named with the port's short name.\n"
                  << std::flush;
    }

    CliUi::InstallInterruptHandler();
    std::vector<PortRun> runs(args.ports.size());
    {
        ProgressBoard board(args.ports, tags, mode);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < args.ports.size(); ++i)
            threads.emplace_back([&, i] {
                UpdateArgs portArgs = args;
                portArgs.port = args.ports[i];
                BoardSink rows(board, static_cast<int>(i));
                JsonSink json([&board](const std::string& line) { board.Emit(line); }, portArgs.port, &board);
                runs[i] = UpdatePort(portArgs, tags[i], args.json ? static_cast<UiSink&>(json) : rows, image);
            });
        for (std::thread& thread : threads)
            thread.join();
        board.Stop();
    }

    std::vector<PortResult> rows;
    for (const PortRun& run : runs)
        rows.push_back(run.row);
    const int exitCode = CombinedExitCode(rows);
    if (args.json) {
        nlohmann::json ports = nlohmann::json::array();
        for (const PortResult& r : rows)
            ports.push_back({{"port", r.port}, {"device", r.device}, {"oldVersion", r.oldVersion},
                             {"newVersion", r.newVersion}, {"exit", r.exitCode}, {"seconds", r.seconds},
                             {"message", r.message}});
        std::cout << nlohmann::json{{"event", "summary"}, {"exit", exitCode}, {"ports", ports}}.dump() << '\n';
        return exitCode;
    }
    PrintSummary(runs, exitCode);
    return exitCode;
}

}  // namespace

int RunUpdateCommand(const UpdateArgs& args)
{
    if (std::string why = UpdateChecksProblem(args); !why.empty()) {
        std::cerr << "kelobsl-cli: " << why << ".\n";
        return exit_code::kUsage;
    }
    return args.ports.size() > 1 ? UpdateSeveralPorts(args) : UpdateOnePort(args);
}
