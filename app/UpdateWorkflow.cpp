#include "UpdateWorkflow.h"

#include <cstdio>
#include <ctime>

#include "AppSetup.h"
#include "ResultWords.h"
#include "SettingsArchive.h"
#include "Timing.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

namespace {

constexpr int kBaudIndex = 2;     // 9600 baud: the rate every device starts at
constexpr int kSerialRetries = 3;
constexpr uint32_t kLoaderTries = 3;
constexpr uint32_t kFirstSegment = 0x1000;
constexpr uint32_t kLastAddress = 0xF9FF;  // the bootloader keeps 0xFA00 and up to itself
constexpr int kNotTheNewFirmware = -122;   // the device does not report the image just written
constexpr int kOnePortFileWaits = -103;    // see SettleOnePortFile
constexpr int kBatteryUnreadable = -131;   // the battery level could not be read, or is not a level

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
    ui_.SetProgress(position);
}

std::string UpdateWorkflow::PortDisplay() const
{
    if (state_.commPortIndex >= 0 && state_.commPortIndex < AppState::kPortListSize &&
        state_.portList[state_.commPortIndex].displayText[0] != '\0')
        return state_.portList[state_.commPortIndex].displayText;
    return state_.commPortName;
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
    if (kind == 'W' && phase == 1)
        ui_.SetTransferBytes(current, total);
    if (kind == 'X') {
        SetBar(progress_ + state_.eraseProgressStep);
    } else if (kind == 'W') {
        state_.uploadProgressPosition += state_.uploadProgressRatio;
        SetBar(static_cast<int>(state_.uploadProgressPosition + 0.5f));
    }
    ui_.PumpEvents();
    return state_.keepGoing;
}

int UpdateWorkflow::TimerStartTimer()
{
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
    record_.port = state_.commPortName;
    const uint32_t startTick = TickMs();
    ui_.SetBusy(true);
    SetBar(0);
    ui_.SetConnectText(texts::DoNotDisconnect(state_.deviceName));
    state_.settingsFilePath = SettingsFilePath(state_);
    state_.instrument->ClearSettings();
    state_.settingsMissing = false;

    int result = RunUpdate();

    if (result < 0) {
        ui_.HideStatus();
        SetBar(0);
        state_.instrument->QPDisconnect();
        state_.bootloader->BSLDisconnect();
        ui_.SetConnectText(texts::ConnectDevice(state_.deviceName));
    } else {
        // A file whose settings did not all go back stays for the next try.
        if (settingsRestored_)
            std::remove(state_.settingsFilePath.c_str());
        ui_.SetConnectText(settingsRestored_ ? texts::MayDisconnect(state_.deviceName)
                                             : texts::SettingsNotRestoredConnect(state_.deviceName));
    }
    WriteHistory(result, startTick);
    state_.replaceSerialNumber = false;
    state_.newSerialNumber.clear();
    ui_.SetBusy(false);
    state_.updating = false;
    return result;
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
    Show(texts::ConnectingStatus(device));

    int result = instrument.QPConnect(state_.commPortName.c_str(), kBaudIndex, kSerialRetries, &identity);
    connectResult_ = result;
    const bool inBootloader = result == -80 || result == -81;
    if (!inBootloader && identity.versionNumber != 0)
        record_.oldVersion = VersionText(identity.versionNumber);
    if (result < 0 && !inBootloader)
        return Fail(UpdateStep::Connect, -20,
                    texts::ConnectionError(result, caption, device, PortDisplay(), identity.versionNumber),
                    "Connection Error");
    StepBar();

    if (inBootloader) {
        result = SettleOnePortFile(true, nullptr);
        if (result < 0)
            return result;
    } else {
        if (identity.type != loader.TargetType())
            return Fail(UpdateStep::DeviceCheck, -121, texts::WrongDevice(caption, device, identity.displayName),
                        "Wrong Device");
        if (!identity.supported)
            return Fail(UpdateStep::DeviceCheck, -120, texts::FirmwareTooOld(device), "Firmware Too Old");
        // A file named without a version is newer or older than nothing: no question.
        if (loader.ImageVersionKnown() && identity.versionNumber > state_.targetVersion &&
            !ui_.AskOkCancel(texts::NewerFirmware(device), "Newer Firmware")) {
            failedStep_ = UpdateStep::Question;
            return -40;
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
                return Fail(UpdateStep::DeviceCheck, -130, texts::BatteriesTooLow(), "Batteries Too Low");
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
        return -40;
    instrument.QPDisconnect();
    SetBar(6);
    Show("Starting the firmware loader...");
    result = loader.BSLConnect(state_.commPortName.c_str(), true, kLoaderTries);
    if (result == -112)
        return Fail(UpdateStep::LoaderMissing, -112, texts::LoaderMissing(device), "Firmware Loader Error");
    if (result < 0)
        return Fail(UpdateStep::Loader, -110, texts::LoaderNoAnswer(caption, device), "Firmware Loader Error");

    StepBar();
    if (StopRequested("the firmware was erased"))
        return -40;
    Show("Erasing firmware memory...");
    result = loader.BSLEraseFlash(kFirstSegment, kLastAddress);
    if (result < 0)
        return Fail(UpdateStep::Erase, result, texts::WorkingError(caption, device, result), "Firmware Erase Error");

    state_.uploadProgressPosition = 21.0f;
    SetBar(21);
    Show("Uploading new firmware code...");
    result = loader.BSLSendFirmware();
    if (result < 0)
        return Fail(UpdateStep::Upload, result, texts::WorkingError(caption, device, result), "Firmware Upload Error");
    ui_.SetTransferBytes(loader.ImageLength(), loader.ImageLength());

    Show("Restarting the " + device + ", please wait...");
    result = loader.BSLSendVectors();
    if (result < 0)
        return Fail(UpdateStep::Upload, result, texts::WorkingError(caption, device, result), "Firmware Upload Error");

    SetBar(92);
    ui_.PumpEvents();
    loader.BSLDisconnect();
    PauseMs(identity.restartWaitMs);

    // The new firmware.
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = instrument.QPConnect(state_.commPortName.c_str(), kBaudIndex, kSerialRetries, &identity);
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

    if (identity.eraseData && !state_.dontEraseData) {
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
    // "Successfully updated" only when every setting is back as well.
    if (!settingsRestored_) {
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
    const std::string& path = state_.settingsFilePath;
    Kelo_protocol& instrument = *state_.instrument;
    const SettingsArchive archive(state_.dataFolder, device);
    const SettingsFileFacts earlier = SettingsArchive::ReadFacts(path);
    // A file left by an unfinished update is never overwritten by a fresh
    // reading: the device may have been erased since.
    const std::string fresh = earlier.exists ? path + ".new" : path;

    Show("Saving settings for this " + device + "...");
    int result = instrument.QPSaveInfo(fresh.c_str());
    SettingsFileFacts reading;
    if (result >= 0) {
        reading = SettingsArchive::ReadFacts(fresh);
        record_.serialNumber = reading.serialNumber;
        std::string error;
        std::string archived = archive.Add(fresh, reading.serialNumber, std::time(nullptr), &error);
        record_.settingsArchive = archived;
        LogLine(archived.empty() ? 1 : 10, archived.empty() ? "Could not archive the settings: " + error
                                                            : "Settings archived as " + archived);
    }

    const SettingsFileFacts* freshFacts = result >= 0 ? &reading : nullptr;
    const int settled = SettleOnePortFile(false, freshFacts);
    if (settled < 0) {
        std::remove(fresh.c_str());  // the reading is in the archive
        return settled;
    }

    if (earlier.exists) {
        const EarlierFileOwner owner = OwnerOfEarlierFile(earlier, freshFacts);
        // Another instrument's file is archived; the update goes on with this one's.
        SettingsChoice choice = SettingsChoice::Device;
        if (owner == EarlierFileOwner::ThisDevice)
            choice = SettingsChoice::Saved;
        else if (owner == EarlierFileOwner::Unknown)
            choice = ui_.AskSettingsConflict(
                texts::SettingsConflictQuestion(device, path, SettingsArchive::LocalDate(earlier.saved), result >= 0),
                "Settings Conflict");
        if (choice != SettingsChoice::Device) {
            std::remove(fresh.c_str());
            if (choice == SettingsChoice::Stop) {
                failedStep_ = UpdateStep::SettingsConflict;
                return -40;
            }
            if (owner == EarlierFileOwner::ThisDevice)
                return 1;
            // The restore reads the saved file, not what was just read.
            instrument.ClearSettings();
            LogLine(1, "Settings Conflict: the settings of " + path + " will be restored");
            return 1;
        }
        std::string error;
        std::string archived = archive.MoveIn(path, earlier.serialNumber, earlier.saved, &error);
        if (archived.empty()) {
            std::remove(fresh.c_str());
            LogLine(1, "Could not move the earlier settings file into the archive: " + error);
            return Fail(UpdateStep::SaveSettings, -105, texts::SettingsError(state_.caption, device),
                        "Settings Error");
        }
        LogLine(1, "The earlier settings file " + path + " was moved to " + archived);
        if (result >= 0 && std::rename(fresh.c_str(), path.c_str()) != 0) {
            LogLine(1, "Could not rename " + fresh + " to " + path);
            return Fail(UpdateStep::SaveSettings, -105, texts::SettingsError(state_.caption, device),
                        "Settings Error");
        }
    }

    if (result < 0) {
        std::remove(fresh.c_str());
        if (!state_.repMode)
            return Fail(UpdateStep::SaveSettings, result, texts::SettingsError(state_.caption, device),
                        "Settings Error");
        if (!ui_.AskOkCancel(texts::SettingsRetrieveQuestion(state_.caption, device), "Settings Retrieve Error")) {
            failedStep_ = UpdateStep::Question;
            return -40;
        }
        state_.settingsMissing = true;
    }
    return 1;
}

int UpdateWorkflow::SettleOnePortFile(bool inLoader, const SettingsFileFacts* reading)
{
    const std::string path = OnePortSettingsFilePath(state_);
    const SettingsFileFacts waiting = path.empty() ? SettingsFileFacts{} : SettingsArchive::ReadFacts(path);
    if (!waiting.exists)
        return 1;
    if (!inLoader) {
        // Settled as the run with one port settles it, except that another
        // instrument's file stays where it is: another port of this run, or
        // a later run, may be its instrument.
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
    }
    const bool keepsSn = KeepsSerialNumber(state_.bootloader->TargetType());
    onePortFileNote_ = texts::SettingsFileNote(path, SettingsArchive::LocalDate(waiting.saved),
                                               keepsSn ? waiting.serialNumber : "");
    LogLine(1, "Stopped before any change: the settings file " + onePortFileNote_ + " must be settled first");
    return Fail(UpdateStep::OnePortSettingsFile, kOnePortFileWaits,
                texts::OnePortFileWaits(state_.deviceName, onePortFileNote_, inLoader, reading != nullptr),
                "Settings File Waiting");
}

int UpdateWorkflow::RestoreSettings()
{
    const std::string& device = state_.deviceName;
    const DeviceIdentity& identity = state_.deviceIdentity;
    Kelo_protocol& instrument = *state_.instrument;
    const bool newSerial = state_.replaceSerialNumber && !state_.newSerialNumber.empty();

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
        return 1;
    }
    int result = instrument.QPRestoreInfo(state_.settingsFilePath.c_str(),
                                          newSerial ? state_.newSerialNumber.c_str() : nullptr);
    const bool snRefused = newSerial && !instrument.NewSerialNumberWritten();
    if (newSerial && !snRefused)
        record_.newSerialNumber = state_.newSerialNumber;
    settingsRestored_ = result >= 0 && !snRefused;
    if (!settingsRestored_) {
        restoreResult_ = result < 0 ? result : -12;
        std::string text = texts::RestoreError(restoreResult_, state_.caption, device);
        if (snRefused)
            text += "\n\n" + texts::SerialNumberNotWritten(state_.newSerialNumber);
        ui_.ShowMessage(text, "Settings Error", MessageKind::Error);
    }
    return result;
}

std::string UpdateWorkflow::ResultInWords(int result) const
{
    if (result >= 0) {
        if (settingsRestored_)
            return "updated";
        return "updated; settings not restored: " + LineCause(restoreResult_ != 0 ? restoreResult_ : -102);
    }
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
