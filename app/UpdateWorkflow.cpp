#include "UpdateWorkflow.h"

#include <cstdio>

#include "AppSetup.h"
#include "Timing.h"
#include "UpdateTexts.h"

namespace {

constexpr int kBaudIndex = 2;     // 9600 baud: the rate every device starts at
constexpr int kSerialRetries = 3;
constexpr uint32_t kLoaderTries = 3;
constexpr uint32_t kFirstSegment = 0x1000;
constexpr uint32_t kLastAddress = 0xF9FF;  // the bootloader keeps 0xFA00 and up to itself

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

int UpdateWorkflow::Fail(UpdateStep step, int code, const std::string& text, const std::string& title)
{
    failedStep_ = step;
    ui_.ShowMessage(text, title, MessageKind::Error);
    return code;
}

bool UpdateWorkflow::UpdateProgress(uint32_t, uint32_t, int, char kind)
{
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
    elapsedSeconds_ = 0;
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
        std::remove(state_.settingsFilePath.c_str());
        ui_.SetConnectText(texts::MayDisconnect(state_.deviceName));
    }
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
    if (result < 0 && !inBootloader)
        return Fail(UpdateStep::Connect, -20,
                    texts::ConnectionError(result, caption, device, PortDisplay(), identity.versionNumber),
                    "Connection Error");
    StepBar();

    if (!inBootloader) {
        if (identity.type != loader.TargetType())
            return Fail(UpdateStep::DeviceCheck, -121, texts::WrongDevice(caption, device, identity.displayName),
                        "Wrong Device");
        if (!identity.supported)
            return Fail(UpdateStep::DeviceCheck, -120, texts::FirmwareTooOld(device), "Firmware Too Old");
        if (identity.versionNumber > state_.targetVersion &&
            !ui_.AskOkCancel(texts::NewerFirmware(device), "Newer Firmware")) {
            failedStep_ = UpdateStep::Question;
            return -40;
        }
        if (identity.checkBattery) {
            Show("Checking battery power...");
            int percent = 0;
            if (instrument.QPCheckBattery(&percent) > 0 && percent < 10)
                return Fail(UpdateStep::DeviceCheck, -130, texts::BatteriesTooLow(), "Batteries Too Low");
        }
        StepBar();

        if (identity.saveSettings) {
            Show("Saving settings for this " + device + "...");
            result = instrument.QPSaveInfo(state_.settingsFilePath.c_str());
            if (result < 0) {
                if (!state_.repMode)
                    return Fail(UpdateStep::SaveSettings, result, texts::SettingsError(caption, device),
                                "Settings Error");
                if (!ui_.AskOkCancel(texts::SettingsRetrieveQuestion(caption, device), "Settings Retrieve Error")) {
                    failedStep_ = UpdateStep::Question;
                    return -40;
                }
                state_.settingsMissing = true;
            }
        }
    }

    // The bootloader.
    instrument.QPDisconnect();
    SetBar(6);
    Show("Starting the firmware loader...");
    result = loader.BSLConnect(state_.commPortName.c_str(), true, kLoaderTries);
    if (result == -112)
        return Fail(UpdateStep::LoaderMissing, -112, texts::LoaderMissing(device), "Firmware Loader Error");
    if (result < 0)
        return Fail(UpdateStep::Loader, -110, texts::LoaderNoAnswer(caption, device), "Firmware Loader Error");

    StepBar();
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

    StepBar();
    Show("Checking new firmware...");
    result = instrument.QPCheckFirmware(identity.postInit);
    if (result < 0)
        return Fail(UpdateStep::FirmwareCheck, result, texts::FirmwareCorrupt(device), "Firmware Error");

    StepBar();
    Show("Restoring settings...");
    const bool newSerial = state_.replaceSerialNumber && !state_.newSerialNumber.empty();
    if (state_.settingsMissing && newSerial) {
        state_.settingsMissing = false;
        // Nothing was saved: the restore writes the new serial number alone.
        instrument.SetSettingsHeld(true);
        instrument.LoggerSettings().valid = 0x2;
        instrument.InstrumentSettings().valid = 0x2;
    }
    if (identity.saveSettings && !state_.settingsMissing) {
        result = instrument.QPRestoreInfo(state_.settingsFilePath.c_str(),
                                          newSerial ? state_.newSerialNumber.c_str() : nullptr);
        if (result < 0) {
            restoreResult_ = result;
            ui_.ShowMessage(texts::RestoreError(result, caption, device), "Settings Error", MessageKind::Error);
        }
    }

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
    Show(texts::SuccessStatus(elapsedSeconds_));
    ui_.Beep(MessageKind::Information);
    if (state_.log)
        state_.log->LogMessage(30, "KeloBSL Host", "Finished updating device in %d seconds",
                               static_cast<int>(elapsedSeconds_));
    failedStep_ = UpdateStep::Done;
    return 1;
}
