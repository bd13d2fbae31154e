// kelobsl-cli station: a factory line. Each port, on its own thread, waits
// for a device, updates it with the firmware for its type, shows the result
// until the device goes away, then waits for the next, until Ctrl+C (or
// --count devices). The ports share the board, the serial number list and
// the loaded firmware images.
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

#include "AppState.h"
#include "CauseWords.h"
#include "CliUi.h"
#include "Commands.h"
#include "DataFolder.h"
#include "DeviceTypes.h"
#include "ExitCodes.h"
#include "FileLock.h"
#include "FirmwareImage.h"
#include "FirmwareSet.h"
#include "IdentifyDevice.h"
#include "Kelo_protocol.h"
#include "PortShortName.h"
#include "PortUpdate.h"
#include "ProgressBoard.h"
#include "ResultTable.h"
#include "Result.h"
#include "ResultWords.h"
#include "SerialBackend.h"
#include "UiSinks.h"
#include "UnfinishedUpdates.h"
#include "UpdateHistory.h"
#include "UpdateOutcome.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting port looks for its device: a device is found within
// this time of appearing, and the look costs a stat() call.
constexpr auto kLookEvery = std::chrono::milliseconds(200);
// A port whose name stays (a fixed serial port) is asked this often whether
// its device still answers, once the device's result is shown.
constexpr auto kAskEvery = std::chrono::seconds(3);
// A device just plugged in may still be starting: it is asked this many
// times, a second apart, before the port says it does not answer.
constexpr int kIdentifyTries = 3;

// What the ports share.
class Station {
public:
    Station(const StationArgs& args, ProgressBoard& board) : args_(args), board_(board), start_(Clock::now()) {}

    // Ctrl+C stops the waiting ports at once; an update in progress warns
    // first, as it does in a run of the update command.
    bool Stopping() const { return CliUi::InterruptCount() > 0; }

    // The number of the next device, from 1; 0 when --count is reached.
    int NextDevice()
    {
        const int n = ++devices_;
        return args_.count > 0 && n > args_.count ? 0 : n;
    }
    bool CountReached() const { return args_.count > 0 && devices_.load() >= args_.count; }

    void Finished(const PortResult& row)
    {
        std::lock_guard lock(mutex_);
        rows_.push_back(row);
        (row.exitCode == exit_code::kSuccess ? done_ : failed_) += 1;
        const double hours = std::chrono::duration<double>(Clock::now() - start_).count() / 3600.0;
        char perHour[32];
        std::snprintf(perHour, sizeof perHour, "%.0f", hours > 0 ? done_ / hours : 0.0);
        board_.SetTotals("Totals: " + std::to_string(done_) + " done, " + std::to_string(failed_) + " failed, " +
                         perHour + " per hour");
    }

    std::vector<PortResult> Rows()
    {
        std::lock_guard lock(mutex_);
        return rows_;
    }
    const StationArgs& Args() const { return args_; }
    ProgressBoard& Board() { return board_; }
    // Where the updates keep their settings files and history.
    std::string DataFolder() const
    {
        const std::string folder = args_.dataDir.empty() ? DefaultDataFolder() : args_.dataDir;
        return folder.empty() ? "." : folder;
    }

    // device type -> its image; a type with none is left untouched.
    std::map<int, std::shared_ptr<const FirmwareImage>> images;
    std::map<int, std::string> files;  // device type -> its file ("" for the built-in image)

private:
    const StationArgs& args_;
    ProgressBoard& board_;
    const Clock::time_point start_;
    std::atomic<int> devices_{0};
    std::mutex mutex_;
    std::vector<PortResult> rows_;
    int done_ = 0;
    int failed_ = 0;
};

// Waits until the port's name is there (present) or gone; false when the
// station stops first.
bool WaitForPort(Station& station, const std::string& port, bool present)
{
    while (!station.Stopping()) {
        if (serial_backend::Present(port.c_str()) == present)
            return true;
        std::this_thread::sleep_for(kLookEvery);
    }
    return false;
}

// Whether a device answers on the port now: its firmware, its loader, or a
// firmware this build does not update (it is there all the same, and must
// not count as the next device every few seconds).
bool Answers(const std::string& port, DeviceReading* reading)
{
    Kelo_protocol instrument(nullptr);
    *reading = IdentifyDevice(instrument, port);
    return reading->connectResult >= 0 || reading->inLoader || reading->identity.type != 0 ||
           reading->connectResult == result::kCannotUpdate;
}

// Sleeps up to wait in short slices; false when the station stops first or
// the port's name goes.
bool SleepWhilePresent(Station& station, const std::string& port, Clock::duration wait)
{
    const auto until = Clock::now() + wait;
    while (!station.Stopping() && serial_backend::Present(port.c_str())) {
        if (Clock::now() >= until)
            return true;
        std::this_thread::sleep_for(kLookEvery);
    }
    return false;
}

enum class Gone { Unplugged, Silent, Stopping };

// Whether two readings of one port are the same device as far as it says:
// its type, where it runs, its version and (when both were read) its
// serial number. A device just updated answers with the new version, so the
// next one from the tray, still on its old firmware, reads as another.
bool SameDevice(const DeviceReading& a, const DeviceReading& b)
{
    return a.identity.type == b.identity.type && a.inLoader == b.inLoader &&
           a.identity.versionNumber == b.identity.versionNumber &&
           (!a.serialNumberRead || !b.serialNumberRead || a.serialNumber == b.serialNumber);
}

// After a device's result: waits until it goes away, unplugged (its port's
// name goes), no longer answering, or swapped for another between two looks
// (a port that stays: Silent, and the device answering now is the next).
Gone WaitUntilGone(Station& station, const std::string& port)
{
    // The device as it is now, read at once, so that a swap within the
    // first few seconds is not taken for the same device.
    DeviceReading left;
    const bool known = Answers(port, &left);
    for (;;) {
        if (!SleepWhilePresent(station, port, kAskEvery))
            return station.Stopping() ? Gone::Stopping : Gone::Unplugged;
        DeviceReading reading;
        if (!Answers(port, &reading) || (known && !SameDevice(left, reading)))
            return serial_backend::Present(port.c_str()) ? Gone::Silent : Gone::Unplugged;
    }
}

// On a port that stays, the next device is the next one that answers: asks
// every kAskEvery. False when the station stops or the port's name goes.
bool WaitForAnswer(Station& station, const std::string& port, DeviceReading* reading)
{
    while (!station.Stopping() && serial_backend::Present(port.c_str())) {
        if (Answers(port, reading))
            return true;
        if (!SleepWhilePresent(station, port, kAskEvery))
            return false;
    }
    return false;
}

// One JSON event of the station itself, naming the port and the device.
void StationEvent(Station& station, const std::string& port, int device, const std::string& state,
                  nlohmann::json more = nlohmann::json::object())
{
    if (!station.Args().json)
        return;
    more["event"] = "station";
    more["port"] = port;
    more["device"] = device;
    more["state"] = state;
    station.Board().Emit(more.dump());
}

// A device the station leaves untouched: its row says why, and it adds its
// line to the history as every update does.
void LeaveUntouched(Station& station, int row, const std::string& port, int device, const DeviceReading& reading,
                    const std::string& deviceName, const std::string& why, int exitCode)
{
    ProgressBoard& board = station.Board();
    board.SetDevice(row, deviceName);
    board.SetDone(row, "failed: " + why);
    StationEvent(station, port, device, "failed", {{"exit", exitCode}, {"cause", why}});
    UpdateRecord record;
    record.port = port;
    if (reading.identity.type != 0) {
        record.device = reading.identity.displayName;
        if (reading.identity.versionNumber != 0)
            record.oldVersion = VersionText(reading.identity.versionNumber);
    }
    record.serialNumber = reading.serialNumber;
    const UpdateHistory history(station.DataFolder());
    std::string error;
    if (!history.AppendUntouched(record, why, &error)) {
        const std::string unrecorded = "could not add the device to the history " + history.Path() + ": " + error;
        if (station.Args().json)
            board.Emit(nlohmann::json{{"event", "message"}, {"kind", "warning"}, {"title", "Update History"},
                                      {"text", unrecorded + "."}, {"port", port}, {"device", device}}
                           .dump());
        else
            board.Print("kelobsl-cli: " + unrecorded + ".\n");
    }
    PortResult result;
    result.port = port;
    result.device = deviceName.empty() ? "-" : deviceName;
    result.oldVersion = "-";
    result.newVersion = "-";
    result.exitCode = exitCode;
    result.message = why + ".";
    station.Finished(result);
}

// An unfinished update that may be a loader device's, with its type.
struct LoaderCandidate {
    int type = 0;
    UnfinishedUpdate update;
};

// The unfinished updates of every type that keeps settings, but for those an
// update running now holds (its instrument is on another port).
std::vector<LoaderCandidate> FreeUnfinishedUpdates(const std::string& folder)
{
    std::vector<LoaderCandidate> found;
    std::set<std::string> files;
    for (int type = 1; type < kDeviceTypeCount; ++type) {
        if (!DeviceTypeInfo(type).saveSettings)
            continue;
        for (UnfinishedUpdate& update : unfinished::OfDevice(folder, DeviceTypeName(type))) {
            FileLock probe;
            if (probe.TryLock(unfinished::LockPath(update.file)) == 0 || !files.insert(update.file).second)
                continue;
            found.push_back({type, std::move(update)});
        }
    }
    return found;
}

// Asks the person at the station which unfinished update is the loader
// device's: its index, or kNotPicked (no terminal, --json, Enter, Ctrl+C,
// anything else). *asked: whether there was anyone to ask.
int AskWhichUpdate(Station& station, const std::string& port, const std::vector<LoaderCandidate>& candidates,
                   bool* asked)
{
    *asked = !station.Args().json && ::isatty(STDIN_FILENO);
    if (!*asked)
        return kNotPicked;
    std::vector<SettingsCandidate> list;
    std::vector<std::string> devices;
    for (const LoaderCandidate& c : candidates) {
        list.push_back(SettingsCandidate{c.update.serialNumber, c.update.saved, c.update.file, c.update.port});
        devices.push_back(DeviceTypeName(c.type));
    }
    const std::string question =
        "\n== Which Instrument? (" + port + ") ==\nThe device on " + port +
        " waits in its firmware loader, where it cannot say which instrument it is. These unfinished updates hold "
        "settings that have not gone back yet; the one you pick decides the firmware it gets, and its settings are "
        "restored after it.\n\n" + CandidateList(list, devices) + "\nType the number of its settings file (1 to " +
        std::to_string(candidates.size()) + "), or Enter to leave the device untouched: ";
    std::string line;
    return station.Board().Ask(question, &line) ? PickedNumber(line, candidates.size()) : kNotPicked;
}

// What a device found in its firmware loader gets: the type whose image is
// written and the settings file the person picked (empty: the update settles
// its settings as a run of one port does). why: it is left untouched, and why.
// The type is never a guess: one image, unfinished updates of one type, or the
// person's answer.
struct LoaderChoice {
    int type = 0;
    std::string settingsFile;
    std::string why;
};

LoaderChoice ChooseForLoader(Station& station, const std::string& port)
{
    LoaderChoice choice;
    if (station.images.size() == 1) {
        choice.type = station.images.begin()->first;  // one firmware: the only one it can be waiting for
        return choice;
    }
    const std::string waits = "the device waits in its firmware loader and cannot say its type";
    const std::string finish = ": update it on its own with update --port " + port + " --firmware FILE";
    const std::vector<LoaderCandidate> candidates = FreeUnfinishedUpdates(station.DataFolder());
    std::set<int> types;
    for (const LoaderCandidate& c : candidates)
        types.insert(c.type);
    if (types.empty()) {
        choice.why = waits + ", and no unfinished update tells" + finish;
        return choice;
    }
    if (types.size() == 1) {
        choice.type = *types.begin();
    } else {
        bool asked = false;
        const int picked = AskWhichUpdate(station, port, candidates, &asked);
        if (picked == kNotPicked) {
            std::string names;
            for (int type : types)
                names += (names.empty() ? "" : ", ") + std::string(DeviceTypeName(type));
            choice.why = waits + "; unfinished updates of several types (" + names + ") may be its, and " +
                         (asked ? "no answer said which" : "there is no terminal to ask which") + finish;
            return choice;
        }
        choice.type = candidates[static_cast<std::size_t>(picked)].type;
        choice.settingsFile = candidates[static_cast<std::size_t>(picked)].update.file;
    }
    if (!station.images.count(choice.type))
        choice.why = "no firmware for " + std::string(DeviceTypeName(choice.type)) +
                     " (the device waits in its firmware loader; its unfinished update is of that type)";
    return choice;
}

void RunPort(Station& station, const std::string& port, const std::string& tag, int row)
{
    ProgressBoard& board = station.Board();
    const StationArgs& args = station.Args();
    // The last device stopped answering while the port's name stayed (a
    // fixed serial port): the next device is the next one that answers.
    bool portStays = false;
    while (!station.Stopping() && !station.CountReached()) {
        board.SetWaiting(row, "waiting for a device");
        DeviceReading reading;
        bool identified = false;
        if (portStays) {
            identified = WaitForAnswer(station, port, &reading);
            if (!identified && station.Stopping())
                return;
            portStays = identified;  // else its name went: wait for it to come back
        }
        if (!identified && !WaitForPort(station, port, true))
            return;
        const int device = station.NextDevice();
        if (device == 0)
            return;
        board.StartDevice(row);
        board.SetStep(row, "identifying");
        StationEvent(station, port, device, "found");

        // Which device it is decides the firmware it gets.
        for (int tries = 0; !identified && tries < kIdentifyTries && !station.Stopping(); ++tries) {
            if (Answers(port, &reading))
                break;
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const std::string name = reading.identity.type ? DeviceTypeName(reading.identity.type) : "";
        int type = reading.identity.type;
        LoaderChoice loader;
        if (reading.inLoader) {
            board.SetDevice(row, "(loader)");
            loader = ChooseForLoader(station, port);
            type = loader.type;
        }
        if (reading.connectResult < 0 && !reading.inLoader && reading.identity.type == 0) {
            LeaveUntouched(station, row, port, device, reading, name,
                           "no answer: " + LineCause(reading.connectResult), exit_code::kNoConnection);
        } else if (!loader.why.empty()) {
            LeaveUntouched(station, row, port, device, reading, "(loader)", loader.why, exit_code::kUsage);
        } else if (!station.images.count(type)) {
            LeaveUntouched(station, row, port, device, reading, name, "no firmware for " + name, exit_code::kUsage);
        } else {
            UpdateArgs update;
            update.ports = args.ports;
            update.port = port;
            update.firmware = station.files[type];
            update.settingsFile = loader.settingsFile;  // the person's answer to "Which Instrument?"
            // A type whose settings hold no serial number takes none from the list.
            const bool takesNumber = (Kelo_protocol::SaveMaskOfType(type) & inst_mask::kSn) != 0;
            update.newSnFrom = takesNumber ? args.newSnFrom : "";
            update.keepData = args.keepData;
            update.yes = args.yes;
            update.demoImage = args.demoImage;
            update.dataDir = args.dataDir;
            update.verbose = args.verbose;
            update.json = args.json;
            BoardSink rows(board, row);
            JsonSink json(
                [&board, device](const std::string& line) {
                    // Every event of this device names it, so that a reader can tell two devices of one port apart.
                    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
                    if (event.is_object())
                        event["device"] = device;
                    board.Emit(event.is_object() ? event.dump() : line);
                },
                port, &board);
            StationEvent(station, port, device, "updating", {{"deviceType", name}});
            const PortRun run = UpdatePort(update, tag, args.json ? static_cast<UiSink&>(json) : rows,
                                           station.images[type]);
            const bool good = run.row.exitCode == exit_code::kSuccess;
            std::string words = good ? "done" : "failed: " + run.row.message;
            if (good && !run.newSerialNumber.empty())
                words += " (serial number " + run.newSerialNumber + ")";
            board.SetDone(row, words);
            StationEvent(station, port, device, good ? "done" : "failed",
                         {{"exit", run.row.exitCode},
                          {"newSerialNumber", run.newSerialNumber.empty() ? nlohmann::json(nullptr)
                                                                          : nlohmann::json(run.newSerialNumber)},
                          {"cause", good ? nlohmann::json(nullptr) : nlohmann::json(run.row.message)}});
            station.Finished(run.row);
        }
        if (station.CountReached())
            return;  // the last device: its result stays on the board
        const Gone gone = WaitUntilGone(station, port);
        if (gone == Gone::Stopping)
            return;
        portStays = gone == Gone::Silent;
        StationEvent(station, port, device, "gone");
    }
}

// Loads the firmware the station writes: one image per device type.
std::string LoadImages(const StationArgs& args, Station& station)
{
    FirmwareSet set;
    std::string error;
    for (const std::string& file : args.firmware)
        if (!set.Add(file, &error))
            return error;
    if (!args.firmwareDir.empty() && !set.AddFolder(args.firmwareDir, &error))
        return error;
    if (set.Empty()) {
        station.images[BuildTarget::kDeviceType] = FirmwareImage::BuiltIn();
        station.files[BuildTarget::kDeviceType] = "";
        return {};
    }
    for (const auto& [type, file] : set.Files()) {
        std::shared_ptr<const FirmwareImage> image;
        const int loaded = FirmwareImage::Load(file.c_str(), nullptr, &image);
        if (loaded < 0)
            return file + ": " + FirmwareFileProblem(loaded, file);
        station.images[type] = image;
        station.files[type] = file;
    }
    return {};
}

}  // namespace

int RunStationCommand(const StationArgs& args)
{
    if (!args.newSn.empty()) {
        std::cerr << "kelobsl-cli: a station never writes one serial number: every device would get it. Give "
                     "--new-sn-from FILE, a list of serial numbers (one a line), each handed to one device.\n";
        return exit_code::kUsage;
    }
    UpdateArgs checks;
    checks.ports = args.ports;
    checks.newSnFrom = args.newSnFrom;
    checks.dataDir = args.dataDir;
    checks.demoImage = args.demoImage || !args.firmware.empty() || !args.firmwareDir.empty();
    if (std::string why = UpdateChecksProblem(checks); !why.empty()) {
        std::cerr << "kelobsl-cli: " << why << ".\n";
        return exit_code::kUsage;
    }
    const ProgressBoard::Mode mode = ProgressBoard::ModeFor(args.json);
    const std::vector<std::string> tags = PortShortNames(args.ports);
    ProgressBoard board(args.ports, tags, mode);
    Station station(args, board);
    if (std::string why = LoadImages(args, station); !why.empty()) {
        board.Stop();
        std::cerr << "kelobsl-cli: station not started: " << why << ".\n";
        return exit_code::kUsage;
    }
    if (!args.json) {
        std::string types;
        for (const auto& [type, file] : station.files)
            types += (types.empty() ? "" : ", ") + std::string(DeviceTypeName(type)) +
                     (file.empty() ? " (built-in image)" : " (" + file + ")");
        board.Print("Station on " + std::to_string(args.ports.size()) + " port(s) for " + types +
                    (args.count > 0 ? "; it stops after " + std::to_string(args.count) + " devices" : "") +
                    ". Press Ctrl+C to stop it.\n");
    }

    CliUi::InstallInterruptHandler();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < args.ports.size(); ++i)
        threads.emplace_back([&, i] { RunPort(station, args.ports[i], tags[i], static_cast<int>(i)); });
    for (std::thread& thread : threads)
        thread.join();
    board.Stop();

    const std::vector<PortResult> rows = station.Rows();
    const int exitCode = CombinedExitCode(rows);
    if (args.json) {
        nlohmann::json devices = nlohmann::json::array();
        for (const PortResult& r : rows)
            devices.push_back({{"port", r.port}, {"device", r.device}, {"exit", r.exitCode}, {"message", r.message}});
        std::cout << nlohmann::json{{"event", "summary"}, {"exit", exitCode}, {"devices", devices}}.dump() << '\n';
        return exitCode;
    }
    std::cout << '\n' << (rows.empty() ? "No device was updated.\n" : ResultTable(rows));
    std::cout << (exitCode == 0 ? "Every device updated." : "Exit code " + std::to_string(exitCode) +
                                                                ": the highest of the devices' codes.")
              << "\n" << std::flush;
    return exitCode;
}
