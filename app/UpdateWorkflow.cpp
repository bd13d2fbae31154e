#include "UpdateWorkflow.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "AppSetup.h"
#include "IdentifyDevice.h"
#include "Result.h"
#include "ResultWords.h"
#include "SettingsArchive.h"
#include "Timing.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

namespace {

constexpr int kBaudIndex = device_line::kBaudIndex;
constexpr int kSerialRetries = device_line::kRetries;
constexpr uint32_t kLoaderTries = 3;
constexpr uint32_t kFirstSegment = 0x1000;
constexpr uint32_t kLastAddress = 0xF9FF;  // the bootloader keeps 0xFA00 and up to itself
constexpr int kNotTheNewFirmware = result::kNewFirmwareNotRunning;
constexpr int kOnePortFileWaits = result::kSettingsWaiting;  // see SettleOnePortFile
constexpr int kBatteryUnreadable = result::kBatteryUnreadable;  // or the answer is not a level
constexpr int kSettingsFileInUse = result::kSettingsHeld;
constexpr int kSettingsNotSafe = result::kSettingsNotSafe;
constexpr uint32_t kLockWaitMs = 5000;     // how long an update waits for another one's settings file

// "R7F 3.52": how a device reports a type and version on its version line.
std::string VersionLine(int type, uint32_t version)
{
    char text[48];
    std::snprintf(text, sizeof text, "%s %u.%02u", DeviceTypeModelWord(type), version / 100, version % 100);
    return text;
}

// Whether the settings saved for a device type hold its serial number, so
// that naming the one in a file tells instruments apart.
bool KeepsSerialNumber(int type)
{
    return (Kelo_protocol::SaveMaskOfType(type) & inst_mask::kSn) != 0;
}

}  // namespace

UpdateWorkflow::UpdateWorkflow(AppState& state, UpdateUi& ui) : state_(state), ui_(ui)
{
    state_.bootloader->SetProgressHook([this](uint32_t total, uint32_t current, int phase, char kind) {
        return UpdateProgress(total, current, phase, kind);
    });
}

void UpdateWorkflow::Show(const std::string& text)
{
    ui_.ShowStatus(text);
}

void UpdateWorkflow::SetBar(int position)
{
    progress_ = position;
    estimate_.Tick(TickMs());
    ui_.SetProgress(estimate_.At(position));
}

void UpdateWorkflow::Reach(UpdateStep step)
{
    ui_.StepReached(step, state_.deviceIdentity);
}

std::string UpdateWorkflow::PortDisplay() const
{
    return request_.portLabel.empty() ? request_.port : request_.portLabel;
}

void UpdateWorkflow::LogLine(int level, const std::string& text)
{
    if (state_.log)
        state_.log->LogMessage(static_cast<uint32_t>(level), "KeloBSL Host", "%s", text.c_str());
}

int UpdateWorkflow::Fail(UpdateStep step, int code, const std::string& text, const std::string& title)
{
    failedStep_ = step;
    ui_.ShowMessage(text, title, MessageKind::Error);
    return code;
}

bool UpdateWorkflow::UpdateProgress(uint32_t total, uint32_t current, int phase, char kind)
{
    // The loader's closing call says "all written" even after a failure, so
    // only the readings under way go to the front end; RunUpdate reports the
    // end once the write has succeeded.
    if (kind == 'W' && phase == 1) {
        estimate_.SetBytes(current, total, TickMs());
        ui_.ShowTransfer(estimate_.At(progress_));
    }
    if (kind == 'X') {
        SetBar(progress_ + state_.eraseProgressStep);
    } else if (kind == 'W') {
        state_.uploadProgressPosition += state_.uploadProgressRatio;
        SetBar(static_cast<int>(state_.uploadProgressPosition + 0.5f));
    }
    ui_.PumpEvents();
    return state_.keepGoing;
}

UpdateOutcome UpdateWorkflow::Run(const UpdateRequest& request)
{
    request_ = request;
    state_.updating = true;
    state_.keepGoing = true;
    failedStep_ = UpdateStep::None;
    restoreResult_ = 0;
    connectResult_ = 0;
    onePortFileNote_.clear();
    stoppedBefore_.clear();
    settingsRestored_ = false;
    batteryPercent_ = -1;
    elapsedSeconds_ = 0;
    record_ = UpdateRecord{};
    record_.time = std::time(nullptr);
    record_.port = request_.port;
    const uint32_t startTick = TickMs();
    estimate_.Start(startTick);
    ui_.SetBusy(true);
    SetBar(0);
    ui_.SetConnectText(texts::DoNotDisconnect(state_.deviceName));
    state_.settingsFilePath = SettingsFilePath(state_);
    state_.instrument->ClearSettings();
    state_.settingsMissing = false;
    ResetSettingsState();

    int result = RunUpdate();

    if (result < 0) {
        ui_.HideStatus();
        SetBar(0);
        state_.instrument->QPDisconnect();
        state_.bootloader->BSLDisconnect();
        ui_.SetConnectText(texts::ConnectDevice(state_.deviceName));
    } else {
        EndUnfinishedUpdate();
        ui_.SetConnectText(settingsOutcome_ != SettingsOutcome::NotRestored
                               ? texts::MayDisconnect(state_.deviceName)
                               : texts::SettingsNotRestoredConnect(state_.deviceName));
    }
    WriteHistory(result, startTick);
    ReleaseSettingsFiles();
    ui_.SetBusy(false);
    state_.updating = false;

    UpdateOutcome outcome;
    outcome.result = result;
    outcome.step = failedStep_;
    outcome.connectResult = connectResult_;
    outcome.device = state_.deviceIdentity;
    outcome.settings = settingsOutcome_;
    outcome.settingsNote = settingsNote_;
    outcome.settingsFile = state_.settingsFilePath;
    outcome.logFile = state_.logFilePath;
    outcome.words = record_.words;
    outcome.seconds = elapsedSeconds_;
    return outcome;
}

int UpdateWorkflow::RunUpdate()
{
    const std::string& device = state_.deviceName;
    const std::string& caption = state_.caption;
    DeviceIdentity& identity = state_.deviceIdentity;
    Kelo_protocol& instrument = *state_.instrument;
    KeloBSLHost& loader = *state_.bootloader;

    const uint32_t startTime = TickMs();
    identity = DeviceIdentity{};
    if (int claimed = ClaimSettingsFile(); claimed < 0)
        return claimed;
    Reach(UpdateStep::Connect);
    Show(texts::ConnectingStatus(device));

    int result = instrument.QPConnect(request_.port.c_str(), kBaudIndex, kSerialRetries, &identity);
    connectResult_ = result;
    const bool inBootloader = result::InLoader(result);
    if (!inBootloader && identity.versionNumber != 0)
        record_.oldVersion = VersionText(identity.versionNumber);
    if (result < 0 && !inBootloader)
        return Fail(UpdateStep::Connect, -20,
                    texts::ConnectionError(result, caption, device, PortDisplay(), identity.versionNumber),
                    "Connection Error");
    StepBar();

    if (inBootloader) {
        result = SettleLoaderSettings();
        if (result < 0)
            return result;
    } else {
        if (!request_.settingsFile.empty() || request_.noSettings)
            LogLine(1, "The answer given beforehand to \"Which Instrument?\" is not needed: this " + device +
                           " runs its firmware and says who it is");
        if (identity.type != loader.TargetType())
            return Fail(UpdateStep::DeviceCheck, -121, texts::WrongDevice(caption, device, identity.displayName),
                        "Wrong Device");
        if (!identity.supported)
            return Fail(UpdateStep::DeviceCheck, -120, texts::FirmwareTooOld(device), "Firmware Too Old");
        // A file named without a version is newer or older than nothing: no question.
        if (loader.ImageVersionKnown() && identity.versionNumber > state_.targetVersion &&
            !ui_.AskOkCancel(texts::NewerFirmware(device), "Newer Firmware")) {
            failedStep_ = UpdateStep::Question;
            return result::kStopped;
        }
        if (identity.checkBattery) {
            Show("Checking battery power...");
            int percent = -1;
            const int read = instrument.QPCheckBattery(&percent);
            // A level that cannot be read may be a flat battery: the update
            // would stop half-way and leave the device without firmware.
            if (read < 0 || percent < 0 || percent > 100) {
                LogLine(1, "The battery level could not be read (" + std::to_string(read) + "); update stopped");
                return Fail(UpdateStep::DeviceCheck, kBatteryUnreadable, texts::BatteryUnreadable(device),
                            "Battery Error");
            }
            batteryPercent_ = percent;
            if (batteryPercent_ < 10)
                return Fail(UpdateStep::DeviceCheck, result::kBatteriesLow, texts::BatteriesTooLow(), "Batteries Too Low");
        }
        StepBar();

        if (identity.saveSettings) {
            result = SaveSettings();
            if (result < 0)
                return result;
        }
    }

    // The bootloader. Up to here nothing on the device has changed.
    if (StopRequested("the firmware loader started"))
        return result::kStopped;
    instrument.QPDisconnect();
    Reach(UpdateStep::Loader);
    SetBar(6);
    Show("Starting the firmware loader...");
    result = loader.BSLConnect(request_.port.c_str(), true, kLoaderTries);
    if (result == result::kNoLoader)
        return Fail(UpdateStep::LoaderMissing, -112, texts::LoaderMissing(device), "Firmware Loader Error");
    if (result < 0)
        return Fail(UpdateStep::Loader, -110, texts::LoaderNoAnswer(caption, device), "Firmware Loader Error");

    StepBar();
    if (StopRequested("the firmware was erased"))
        return result::kStopped;
    Reach(UpdateStep::Erase);
    Show("Erasing firmware memory...");
    result = loader.BSLEraseFlash(kFirstSegment, kLastAddress);
    if (result < 0)
        return Fail(UpdateStep::Erase, result, texts::WorkingError(caption, device, result), "Firmware Erase Error");

    state_.uploadProgressPosition = 21.0f;
    SetBar(21);
    Reach(UpdateStep::Upload);
    Show("Uploading new firmware code...");
    result = loader.BSLSendFirmware();
    if (result < 0)
        return Fail(UpdateStep::Upload, result, texts::WorkingError(caption, device, result), "Firmware Upload Error");
    estimate_.SetBytes(loader.ImageLength(), loader.ImageLength(), TickMs());
    ui_.ShowTransfer(estimate_.At(progress_));

    Show("Restarting the " + device + ", please wait...");
    result = loader.BSLSendVectors();
    if (result < 0)
        return Fail(UpdateStep::Upload, result, texts::WorkingError(caption, device, result), "Firmware Upload Error");

    SetBar(92);
    ui_.PumpEvents();
    loader.BSLDisconnect();
    PauseMs(identity.restartWaitMs);

    // The new firmware.
    Reach(UpdateStep::Reconnect);
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = instrument.QPConnect(request_.port.c_str(), kBaudIndex, kSerialRetries, &identity);
        if (result > 0)
            break;
        PauseMs(1000);
    }
    if (result < 0)
        return Fail(UpdateStep::Reconnect, result, texts::WorkingError(caption, device, result), "Connection Error");

    // The device must now run the image just written, not its old firmware
    // or one of another type.
    // A file named without a version can only be checked for its type, and
    // the person is told so rather than left to think the version was checked.
    const uint32_t targetVersion = state_.targetVersion;
    const bool versionKnown = loader.ImageVersionKnown();
    const std::string reported = identity.versionText[0] ? identity.versionText : "nothing";
    if (!versionKnown)
        Show("The firmware file's name gives no version: checking only that the " + device + " now runs " +
             DeviceTypeModelWord(loader.TargetType()) + " firmware (it reports " + reported + ").");
    if (identity.type != loader.TargetType() || (versionKnown && identity.versionNumber != targetVersion))
        return Fail(UpdateStep::FirmwareCheck, kNotTheNewFirmware,
                    texts::NewFirmwareNotRunning(device,
                                                 versionKnown ? VersionLine(loader.TargetType(), targetVersion)
                                                              : std::string(DeviceTypeModelWord(loader.TargetType())) +
                                                                    " firmware",
                                                 reported),
                    "Firmware Error");

    StepBar();
    Show("Checking new firmware...");
    result = instrument.QPCheckFirmware(identity.postInit);
    if (result < 0)
        return Fail(UpdateStep::FirmwareCheck, result, texts::FirmwareCorrupt(device), "Firmware Error");

    StepBar();
    RestoreSettings();

    if (identity.setTime)
        instrument.QPSetTime();
    StepBar();

    if (identity.eraseData && !request_.keepData) {
        Show("Erasing old data...");
        result = instrument.QPEraseData();
        if (result < 0)
            return Fail(UpdateStep::DataErase, result, texts::DataEraseError(result, caption, device),
                        "Data Erase Error");
    }

    instrument.QPDisconnect();
    elapsedSeconds_ = ElapsedMs(startTime, TickMs()) / 1000;
    SetBar(100);
    failedStep_ = UpdateStep::Done;
    Reach(UpdateStep::Done);
    // "Successfully updated" only when every setting is back as well.
    if (settingsOutcome_ == SettingsOutcome::NotRestored) {
        Show(texts::SettingsNotRestoredStatus(elapsedSeconds_));
        ui_.Beep(MessageKind::Warning);
        LogLine(1, "Finished updating the firmware in " + std::to_string(elapsedSeconds_) +
                       " seconds; the settings were not restored");
        return 1;
    }
    Show(texts::SuccessStatus(elapsedSeconds_));
    ui_.Beep(MessageKind::Information);
    if (state_.log)
        state_.log->LogMessage(30, "KeloBSL Host", "Finished updating device in %d seconds",
                               static_cast<int>(elapsedSeconds_));
    return 1;
}

bool UpdateWorkflow::StopRequested(const char* before)
{
    ui_.PumpEvents();  // a Ctrl+C pressed during the last exchange counts
    if (state_.keepGoing)
        return false;
    failedStep_ = UpdateStep::Stopped;
    stoppedBefore_ = before;
    LogLine(1, std::string("Update stopped on request before ") + before + "; nothing on the device was changed");
    return true;
}

int UpdateWorkflow::SaveSettings()
{
    const std::string& device = state_.deviceName;
    Kelo_protocol& instrument = *state_.instrument;
    const SettingsArchive archive(state_.dataFolder, device);
    // A fresh reading never overwrites a file left by an unfinished update:
    // the device may have been erased since. This run's name is locked, so
    // the temporary name beside it is this run's alone.
    const std::string fresh = state_.settingsFilePath + ".new";

    Show("Saving settings for this " + device + "...");
    int result = instrument.QPSaveInfo(fresh.c_str());
    if (result < 0 && instrument.SettingsHeld()) {
        // Read in full, but the file did not take them: a full or failing
        // disk. No question may lead past this to the erase.
        std::remove(fresh.c_str());
        return NotSafe("the settings file " + fresh + " could not be written: " + instrument.FileError() + " (error " +
                       std::to_string(instrument.FileSystemError()) + ")");
    }
    SettingsFileFacts reading;
    std::string archived;
    const std::time_t savedAt = std::time(nullptr);
    if (result >= 0) {
        reading = SettingsArchive::ReadFacts(fresh);
        record_.serialNumber = reading.serialNumber;
        std::string error;
        archived = archive.Add(fresh, reading.serialNumber, savedAt, &error);
        record_.settingsArchive = archived;
        if (archived.empty()) {
            std::remove(fresh.c_str());
            return NotSafe("its copy in the archive could not be written: " + error);
        }
        LogLine(10, "Settings archived as " + archived);
    }

    const SettingsFileFacts* freshFacts = result >= 0 ? &reading : nullptr;
    int settled = SettleOnePortFile(freshFacts);
    if (settled >= 0)
        settled = ChooseOwnFile(freshFacts);
    if (settled < 0) {
        std::remove(fresh.c_str());  // the reading is in the archive
        return settled;
    }
    const std::string& path = state_.settingsFilePath;
    const SettingsFileFacts earlier = SettingsArchive::ReadFacts(path);

    if (earlier.exists) {
        // ChooseOwnFile left no other instrument's file here: it is this
        // device's, or it cannot be told and the person decides.
        const EarlierFileOwner owner = OwnerOfEarlierFile(earlier, freshFacts);
        SettingsChoice choice = SettingsChoice::Saved;
        if (owner != EarlierFileOwner::ThisDevice)
            choice = ui_.AskSettingsConflict(
                texts::SettingsConflictQuestion(device, path, SettingsArchive::LocalDate(earlier.saved), result >= 0),
                "Settings Conflict");
        if (choice != SettingsChoice::Device) {
            std::remove(fresh.c_str());
            if (choice == SettingsChoice::Stop) {
                failedStep_ = UpdateStep::SettingsConflict;
                return result::kStopped;
            }
            if (owner != EarlierFileOwner::ThisDevice) {
                // The restore reads the saved file, not what was just read.
                instrument.ClearSettings();
                LogLine(1, "Settings Conflict: the settings of " + path + " will be restored");
            }
            // This device has proved the file its own: its record now names this port.
            const UnfinishedUpdate before = unfinished::Read(path, device);
            return OpenUnfinished(path, before.serialNumber, before.saved, before.archive);
        }
        // The person's answer: the earlier file goes to the archive and this reading takes its place.
        std::string error;
        std::string moved = archive.MoveIn(path, earlier.serialNumber, earlier.saved, &error);
        if (moved.empty()) {
            std::remove(fresh.c_str());
            LogLine(1, "Could not move the earlier settings file into the archive: " + error);
            return Fail(UpdateStep::SaveSettings, -105, texts::SettingsError(state_.caption, device),
                        "Settings Error");
        }
        std::remove(unfinished::RecordPath(path).c_str());
        LogLine(1, "The earlier settings file " + path + " was moved to " + moved);
    }

    if (result < 0) {
        std::remove(fresh.c_str());
        if (!state_.repMode)
            return Fail(UpdateStep::SaveSettings, result, texts::SettingsError(state_.caption, device),
                        "Settings Error");
        // The question is for an instrument that has no settings yet; one
        // that named any must not lose them to a default answer.
        std::string reportedSn;
        const bool hadSettings = DeviceReportedSettings(&reportedSn);
        std::string question = texts::SettingsRetrieveQuestion(state_.caption, device);
        if (hadSettings)
            question += "\n\n" + texts::SettingsWouldBeLost(device, reportedSn);
        const bool goOn = hadSettings ? ui_.AskLosingSettings(question, "Settings Retrieve Error")
                                      : ui_.AskOkCancel(question, "Settings Retrieve Error");
        if (!goOn) {
            failedStep_ = UpdateStep::Question;
            return result::kStopped;
        }
        state_.settingsMissing = true;
        if (hadSettings)
            GoOnWithoutSettings(texts::SettingsNotSaved(device, reportedSn, archive.Folder()));
        return 1;
    }
    std::error_code ec;
    std::filesystem::rename(fresh, path, ec);
    if (ec) {
        std::remove(fresh.c_str());
        return NotSafe("it could not be renamed from " + fresh + " to " + path + ": " + ec.message());
    }
    return OpenUnfinished(path, reading.serialNumber, savedAt, archived);
}

bool UpdateWorkflow::DeviceReportedSettings(std::string* serialNumber) const
{
    Kelo_protocol& instrument = *state_.instrument;
    if (IsLoggerType(state_.deviceIdentity.type)) {
        const LoggerInfo& info = instrument.LoggerSettings();
        *serialNumber = info.sn;
        return info.sn[0] != '\0' || (info.valid & ~logger_mask::kVer) != 0;
    }
    const InstrumentInfo& info = instrument.InstrumentSettings();
    *serialNumber = info.sn;
    return info.sn[0] != '\0' || info.valid != 0;
}

int UpdateWorkflow::NotSafe(const std::string& why)
{
    LogLine(1, "The settings could not be saved safely: " + why);
    return Fail(UpdateStep::SaveSettings, kSettingsNotSafe, texts::SettingsNotSafe(state_.deviceName, why),
                "Settings Error");
}

void UpdateWorkflow::ResetSettingsState()
{
    ReleaseSettingsFiles();
    unfinished_ = UnfinishedUpdate{};
    ownsUnfinished_ = false;
    settingsOutcome_ = SettingsOutcome::NoneNeeded;
    settingsNote_.clear();
    candidates_.clear();
}

void UpdateWorkflow::ReleaseSettingsFiles()
{
    fileLock_.Unlock();
    nameLock_.Unlock();
}

int UpdateWorkflow::LockSettingsFile(FileLock& lock, const std::string& file)
{
    const std::string lockPath = unfinished::LockPath(file);
    const uint32_t start = TickMs();
    bool said = false;
    for (;;) {
        const int taken = lock.TryLock(lockPath);
        if (taken == 1)
            break;
        if (taken < 0)
            return NotSafe("its lock file " + lockPath + " could not be opened: " +
                           std::system_category().message(-taken) + " (error " + std::to_string(-taken) + ")");
        const std::string holder = FileLock::ReadHolder(lockPath);
        if (!said) {
            Show(texts::WaitingForOtherUpdate(file));
            LogLine(1, "Waiting for the update that holds " + file + ": " + holder);
            said = true;
        }
        if (!state_.keepGoing || ElapsedMs(start, TickMs()) >= kLockWaitMs) {
            LogLine(1, "Stopped before any change: " + file + " belongs to another update running now: " + holder);
            return Fail(UpdateStep::SettingsInUse, kSettingsFileInUse,
                        texts::SettingsFileInUse(state_.deviceName, file, holder), "Settings File In Use");
        }
        PauseMs(200);
    }
    char holder[64];
    std::snprintf(holder, sizeof holder, "process %ld, since ", FileLock::ProcessId());
    lock.WriteHolder("the update of the " + state_.deviceName + " on " + request_.port + " (" + holder +
                     SettingsArchive::LocalDate(std::time(nullptr)) + ")");
    return 1;
}

int UpdateWorkflow::ClaimSettingsFile()
{
    const int type = state_.bootloader->TargetType();
    if (type != 0 && !DeviceTypeInfo(type).saveSettings)
        return 1;  // no settings file: nothing to share
    return LockSettingsFile(nameLock_, state_.settingsFilePath);
}

int UpdateWorkflow::ChooseOwnFile(const SettingsFileFacts* reading)
{
    namespace fs = std::filesystem;
    const std::string base = state_.settingsFilePath;
    const std::string& device = state_.deviceName;
    const SettingsFileFacts atBase = SettingsArchive::ReadFacts(base);
    const bool baseTaken =
        atBase.exists && OwnerOfEarlierFile(atBase, reading) == EarlierFileOwner::AnotherInstrument;
    if (atBase.exists && !baseTaken)
        return 1;
    // Its own unfinished update may wait under another name: found by its
    // serial number. A one-port run's file in a run with several ports is
    // SettleOnePortFile's.
    const std::string onePort = OnePortSettingsFilePath(state_);
    if (reading && !reading->serialNumber.empty()) {
        for (const UnfinishedUpdate& update : unfinished::OfDevice(state_.dataFolder, device)) {
            if (update.file == base || update.file == onePort || update.serialNumber != reading->serialNumber)
                continue;
            if (fileLock_.TryLock(unfinished::LockPath(update.file)) != 1)
                continue;  // an update running now owns it
            state_.settingsFilePath = update.file;
            LogLine(1, update.file + " holds the unfinished update of this " + device + " (serial number " +
                           update.serialNumber + ")");
            return 1;
        }
    }
    if (!baseTaken)
        return 1;
    // Another instrument's settings wait in the name: they stay, and this
    // one's take a free name.
    std::error_code ec;
    for (int n = 2; n < 100; ++n) {
        const std::string name = unfinished::NumberedName(base, n);
        if (fs::exists(name, ec) || fs::exists(unfinished::RecordPath(name), ec))
            continue;
        if (fileLock_.TryLock(unfinished::LockPath(name)) != 1)
            continue;
        if (fs::exists(name, ec)) {  // taken while the lock was being taken
            fileLock_.Unlock();
            continue;
        }
        state_.settingsFilePath = name;
        LogLine(1, base + " holds the settings of the instrument " + atBase.serialNumber +
                       ", whose update is unfinished; it stays there, and this " + device + "'s settings are saved as " +
                       name);
        return 1;
    }
    return NotSafe("every name for it beside " + base + " is taken");
}

int UpdateWorkflow::OpenUnfinished(const std::string& file, const std::string& serialNumber, std::time_t saved,
                                   const std::string& archiveCopy)
{
    const PortName port = NameOfPort(request_.port);
    UnfinishedUpdate update;
    update.file = file;
    update.device = state_.deviceName;
    update.serialNumber = serialNumber;
    update.port = port.given;
    update.resolvedPort = port.resolved;
    update.portIsLink = port.link;
    update.severalPorts = !state_.fileTag.empty();
    update.saved = saved;
    update.archive = archiveCopy;
    update.recorded = true;
    const std::string error = unfinished::Open(update);
    if (!error.empty())
        return NotSafe("the record of the unfinished update could not be written: " + error);
    unfinished_ = update;
    ownsUnfinished_ = true;
    FileLock& lock = fileLock_.Held() ? fileLock_ : nameLock_;
    lock.WriteHolder("the update of the " + state_.deviceName + " on " + request_.port +
                     (serialNumber.empty() ? "" : ", serial number " + serialNumber) + ", saved " +
                     SettingsArchive::LocalDate(saved));
    return 1;
}

void UpdateWorkflow::GoOnWithoutSettings(const std::string& note)
{
    state_.settingsMissing = true;
    settingsOutcome_ = SettingsOutcome::NotRestored;
    settingsNote_ = note;
    LogLine(1, note);
}

int UpdateWorkflow::SettleLoaderSettings()
{
    const int type = state_.bootloader->TargetType();
    if (type == 0 || !DeviceTypeInfo(type).saveSettings)
        return 1;
    const std::string& device = state_.deviceName;
    const SettingsArchive archive(state_.dataFolder, device);
    // An update running now owns its file: its instrument is on another port.
    std::vector<UnfinishedUpdate> candidates;
    for (const UnfinishedUpdate& update : unfinished::OfDevice(state_.dataFolder, device)) {
        if (update.file != state_.settingsFilePath) {
            FileLock probe;
            if (probe.TryLock(unfinished::LockPath(update.file)) == 0) {
                LogLine(10, update.file + " is left out: an update running now holds it");
                continue;
            }
        }
        candidates.push_back(update);
        candidates_.push_back(SettingsCandidate{update.serialNumber, update.saved, update.file, update.port});
    }

    if (request_.noSettings) {
        GoOnWithoutSettings(texts::UpdatedWithoutSettings(device, archive.Folder(), candidates_.size()));
        return 1;
    }
    if (!request_.settingsFile.empty())
        return UseAnsweredFile(candidates);

    std::size_t which = 0;
    switch (MatchInLoader(candidates, NameOfPort(request_.port), &which)) {
    case LoaderMatch::NothingToRestore:
        GoOnWithoutSettings(texts::NoSettingsForLoaderDevice(device, archive.Folder()));
        return 1;
    case LoaderMatch::Restore:
        return TakeCandidate(candidates[which], "the one unfinished update left on this port");
    case LoaderMatch::Ask:
        break;
    }
    const int picked =
        ui_.AskWhichInstrument(texts::WhichInstrumentQuestion(device, PortDisplay()), candidates_, "Which Instrument?");
    if (picked == kNoneOfThese) {
        GoOnWithoutSettings(texts::UpdatedWithoutSettings(device, archive.Folder(), candidates_.size()));
        return 1;
    }
    if (picked < 0 || static_cast<std::size_t>(picked) >= candidates.size()) {
        failedStep_ = UpdateStep::WhichInstrument;
        LogLine(1, "Stopped before any change: which instrument this " + device + " in its loader is was not answered");
        return result::kStopped;
    }
    return TakeCandidate(candidates[static_cast<std::size_t>(picked)], "the person's answer");
}

int UpdateWorkflow::TakeCandidate(const UnfinishedUpdate& update, const std::string& how)
{
    if (update.file != state_.settingsFilePath) {
        if (int locked = LockSettingsFile(fileLock_, update.file); locked < 0)
            return locked;
    }
    state_.settingsFilePath = update.file;
    record_.serialNumber = update.serialNumber;
    record_.settingsArchive = update.archive;
    LogLine(1, "This " + state_.deviceName + " in its firmware loader gets the settings of " +
                   texts::SettingsFileNote(update.file, SettingsArchive::LocalDate(update.saved), update.serialNumber) +
                   " by " + how);
    // Its instrument is on this port now: a rerun after a failure here needs no second answer.
    return OpenUnfinished(update.file, update.serialNumber, update.saved, update.archive);
}

int UpdateWorkflow::UseAnsweredFile(const std::vector<UnfinishedUpdate>& candidates)
{
    namespace fs = std::filesystem;
    const std::string& device = state_.deviceName;
    const std::string& file = request_.settingsFile;
    const SettingsFileFacts facts = SettingsArchive::ReadFacts(file);
    const int type = state_.bootloader->TargetType();
    std::string problem;
    if (!facts.exists)
        problem = "there is no file " + file;
    else if (facts.text.find("type=\"" + std::string(DeviceTypeModelWord(type)) + "\"") == std::string::npos &&
             facts.text.find("type=\"" + device + "\"") == std::string::npos)
        problem = file + " is not a settings file of a " + device;
    if (!problem.empty()) {
        return Fail(UpdateStep::WhichInstrument, -105, texts::AnsweredFileUnusable(device, problem),
                    "Settings Error");
    }
    std::error_code ec;
    for (const UnfinishedUpdate& update : candidates) {
        if (fs::equivalent(file, update.file, ec) || (!update.archive.empty() && fs::equivalent(file, update.archive, ec))) {
            if (int taken = TakeCandidate(update, "the person's answer (" + file + ")"); taken < 0)
                return taken;
            state_.settingsFilePath = file;  // restored from the file named; the update it ends is unfinished_
            return 1;
        }
    }
    // A file of the archive or from elsewhere: restored, and kept where it
    // is. One that another update holds right now is its instrument's.
    if (fs::exists(unfinished::LockPath(file), ec)) {
        if (int locked = LockSettingsFile(fileLock_, file); locked < 0)
            return locked;
    }
    state_.settingsFilePath = file;
    record_.serialNumber = facts.serialNumber;
    LogLine(1, "This " + device + " in its firmware loader gets the settings of " +
                   texts::SettingsFileNote(file, SettingsArchive::LocalDate(facts.saved), facts.serialNumber) +
                   " by the person's answer");
    return 1;
}

void UpdateWorkflow::EndUnfinishedUpdate()
{
    if (settingsOutcome_ != SettingsOutcome::Restored || !ownsUnfinished_)
        return;
    unfinished::End(unfinished_.file);
    ownsUnfinished_ = false;
    LogLine(10, "The update of " + unfinished_.file + " is finished: its settings are back");
}

int UpdateWorkflow::SettleOnePortFile(const SettingsFileFacts* reading)
{
    const std::string path = OnePortSettingsFilePath(state_);
    const SettingsFileFacts waiting = path.empty() ? SettingsFileFacts{} : SettingsArchive::ReadFacts(path);
    if (!waiting.exists)
        return 1;
    // Settled as the run with one port settles it, except that another
    // instrument's file stays where it is: another port of this run, or a
    // later run, may be its instrument.
    switch (OwnerOfEarlierFile(waiting, reading)) {
    case EarlierFileOwner::ThisDevice:
        LogLine(10, path + " holds the settings just read from this device");
        return 1;
    case EarlierFileOwner::AnotherInstrument:
        LogLine(10, path + " holds the settings of the instrument " + waiting.serialNumber + "; it stays there");
        return 1;
    case EarlierFileOwner::Unknown:
        break;
    }
    const bool keepsSn = KeepsSerialNumber(state_.bootloader->TargetType());
    onePortFileNote_ = texts::SettingsFileNote(path, SettingsArchive::LocalDate(waiting.saved),
                                               keepsSn ? waiting.serialNumber : "");
    LogLine(1, "Stopped before any change: the settings file " + onePortFileNote_ + " must be settled first");
    return Fail(UpdateStep::OnePortSettingsFile, kOnePortFileWaits,
                texts::OnePortFileWaits(state_.deviceName, onePortFileNote_, reading != nullptr),
                "Settings File Waiting");
}

int UpdateWorkflow::RestoreSettings()
{
    const std::string& device = state_.deviceName;
    const DeviceIdentity& identity = state_.deviceIdentity;
    Kelo_protocol& instrument = *state_.instrument;
    const bool newSerial = !request_.newSerialNumber.empty();

    // The settings come from a file left by an earlier run: say whose.
    const SettingsFileFacts facts = instrument.SettingsHeld() || state_.settingsMissing
                                        ? SettingsFileFacts{}
                                        : SettingsArchive::ReadFacts(state_.settingsFilePath);
    if (identity.saveSettings && facts.exists) {
        const bool keepsSn = KeepsSerialNumber(identity.type);
        std::string status = texts::RestoringFromFile(state_.settingsFilePath, SettingsArchive::LocalDate(facts.saved),
                                                      keepsSn ? facts.serialNumber : "");
        Show(status);
        LogLine(1, status);
    } else {
        Show("Restoring settings...");
    }

    if (state_.settingsMissing && newSerial) {
        state_.settingsMissing = false;
        // Nothing was saved: the restore writes the new serial number alone.
        instrument.SetSettingsHeld(true);
        instrument.LoggerSettings().valid = 0x2;
        instrument.InstrumentSettings().valid = 0x2;
    }
    if (!identity.saveSettings || state_.settingsMissing) {
        settingsRestored_ = true;  // nothing to restore, nothing to keep
        if (!settingsNote_.empty()) {
            std::string text = settingsNote_ + ".";
            text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
            ui_.ShowMessage(text, "Settings Not Restored", MessageKind::Warning);
        }
        return 1;
    }
    int result = instrument.QPRestoreInfo(state_.settingsFilePath.c_str(),
                                          newSerial ? request_.newSerialNumber.c_str() : nullptr);
    const bool snRefused = newSerial && !instrument.NewSerialNumberWritten();
    if (newSerial && !snRefused)
        record_.newSerialNumber = request_.newSerialNumber;
    settingsRestored_ = result >= 0 && !snRefused;
    if (settingsRestored_ && settingsNote_.empty()) {
        settingsOutcome_ = SettingsOutcome::Restored;
    } else if (!settingsRestored_) {
        restoreResult_ = result < 0 ? result : -12;
        // Name what did not go back, so that the person knows what to check.
        std::string what;
        if (restoreResult_ == result::kSettingsIncomplete && instrument.MissingKeys()[0])
            what = "the settings file " + state_.settingsFilePath + " is incomplete: it lacks " +
                   instrument.MissingKeys() + "; nothing was written from it";
        else if (instrument.NotRestoredNames()[0])
            what = "these settings did not go back: " + std::string(instrument.NotRestoredNames());
        std::string text = texts::RestoreError(restoreResult_, state_.caption, device);
        if (!what.empty()) {
            std::string sentence = what + ".";
            sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
            text += "\n\n" + sentence;
        }
        if (snRefused)
            text += "\n\n" + texts::SerialNumberNotWritten(request_.newSerialNumber);
        ui_.ShowMessage(text, "Settings Error", MessageKind::Error);
        LogLine(1, "Settings not restored (" + std::to_string(restoreResult_) + ")" + (what.empty() ? "" : ": " + what));
        settingsOutcome_ = SettingsOutcome::NotRestored;
        if (settingsNote_.empty())
            settingsNote_ = what.empty() ? LineCause(restoreResult_) : what + " (" + std::to_string(restoreResult_) + ")";
    }
    return result;
}

std::string UpdateWorkflow::ResultInWords(int result) const
{
    if (result >= 0)
        return settingsOutcome_ != SettingsOutcome::NotRestored ? "updated"
                                                                : "updated; settings not restored: " + settingsNote_;
    // A refused connection ends with -20 whatever the port said: its own code says more.
    return LineCause(failedStep_ == UpdateStep::Connect ? connectResult_ : result);
}

void UpdateWorkflow::WriteHistory(int result, uint32_t startTick)
{
    const DeviceIdentity& identity = state_.deviceIdentity;
    record_.device = identity.type != 0 ? identity.displayName : "";
    record_.newVersion = state_.targetVersion != 0 ? VersionText(state_.targetVersion) : "";
    record_.result = result;
    record_.words = ResultInWords(result);
    record_.seconds = ElapsedMs(startTick, TickMs()) / 1000.0;
    // The update has happened either way: a history that cannot be written
    // is only logged.
    const UpdateHistory history(state_.dataFolder);
    std::string error;
    if (!history.Append(record_, &error))
        LogLine(1, "Could not add the update to the history " + history.Path() + ": " + error);
}
