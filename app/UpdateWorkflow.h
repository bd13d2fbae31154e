// The firmware update from start to end: connect, identify and check, save
// the settings, start the bootloader, erase and program, restart, check the
// new firmware, restore the settings, set the clock, erase old data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"
#include "FileLock.h"
#include "ProgressEstimate.h"
#include "UnfinishedUpdates.h"
#include "UpdateContract.h"
#include "UpdateRecord.h"
#include "UpdateUi.h"

struct SettingsFileFacts;

class UpdateWorkflow {
public:
    UpdateWorkflow(AppState& state, UpdateUi& ui);

    // The frame around one update: prepares, runs RunUpdate, cleans up,
    // adds a line to the update history and leaves the front end ready for
    // the next one.
    UpdateOutcome Run(const UpdateRequest& request);
    int RunUpdate();

    // The bootloader host's progress hook: moves the bar, lets events run and
    // returns whether to go on.
    bool UpdateProgress(uint32_t total, uint32_t current, int phase, char kind);

    UpdateStep FailedStep() const { return failedStep_; }
    uint32_t ElapsedSeconds() const { return elapsedSeconds_; }
    // The result of the settings restore (0 when none ran or it succeeded).
    int RestoreResult() const { return restoreResult_; }
    // The first connection's own code (RunUpdate reports every refusal as -20).
    int ConnectResult() const { return connectResult_; }
    // True when the settings were written back in full (or the type keeps
    // none): only then is the settings file deleted.
    bool SettingsRestored() const { return settingsRestored_; }
    // The battery level read before the update, -1 when none was read.
    int BatteryPercent() const { return batteryPercent_; }
    // The settings file that stopped the update at OnePortSettingsFile, with
    // its date and serial number: "<path> (saved <date>, serial number <sn>)".
    const std::string& OnePortFileNote() const { return onePortFileNote_; }
    // After a stop at Stopped: what had not happened yet ("the firmware was erased").
    const std::string& StoppedBefore() const { return stoppedBefore_; }
    // What the last update wrote to the history (also when that write failed).
    const UpdateRecord& LastRecord() const { return record_; }

    SettingsOutcome Settings() const { return settingsOutcome_; }
    // Why the settings were not restored and where they may still be, in
    // words; empty when they were.
    const std::string& SettingsNote() const { return settingsNote_; }
    // The unfinished updates a device in its loader may be, as last offered.
    const std::vector<SettingsCandidate>& Candidates() const { return candidates_; }

private:
    void Show(const std::string& text);
    void SetBar(int position);
    // The front end hears that the update reached step.
    void Reach(UpdateStep step);
    void StepBar() { SetBar(progress_ + 2); }
    int Fail(UpdateStep step, int code, const std::string& text, const std::string& title);
    std::string PortDisplay() const;
    // Saves the settings and settles a file left by an unfinished update:
    // 1 to go on, or the negative code that ends the update.
    int SaveSettings();
    // In a run with several ports: the settings file a run with one port
    // left for this device type may hold this device's calibration. Passes
    // (1) when it is not there or is this device's or another instrument's
    // by the settings just read (reading, null when none were); else stops
    // the update before anything is erased. (A device found in its loader is
    // matched with the unfinished updates instead: SettleLoaderSettings.)
    int SettleOnePortFile(const SettingsFileFacts* reading);
    int RestoreSettings();
    // Ends the update with Stopped when the person asked to stop; before is
    // what has not happened yet ("the firmware loader starts").
    bool StopRequested(const char* before);
    // The settings file named after this run is locked from the start to
    // the end of the update: another program waits, then stops.
    int ClaimSettingsFile();
    // Takes lock on file's lock, waiting a few seconds for another holder;
    // 1 taken, else the failure that ends the update (nothing changed yet).
    int LockSettingsFile(FileLock& lock, const std::string& file);
    void ReleaseSettingsFiles();
    // The pending file a device on its firmware owns: its own name unless
    // another instrument's unfinished update holds it (then its own update's
    // file under another name, or a free name). Sets settingsFilePath.
    int ChooseOwnFile(const SettingsFileFacts* reading);
    // Records the update of file as unfinished, naming this port.
    int OpenUnfinished(const std::string& file, const std::string& serialNumber, std::time_t saved,
                       const std::string& archiveCopy);
    // A device found in its loader: whose settings it gets, or the question.
    int SettleLoaderSettings();
    int TakeCandidate(const UnfinishedUpdate& update, const std::string& how);
    int UseAnsweredFile(const std::vector<UnfinishedUpdate>& candidates);
    void GoOnWithoutSettings(const std::string& note);
    // A save that cannot be made safe stops the update before the erase.
    int NotSafe(const std::string& why);
    // Whether the device reported a serial number or any setting before its save failed.
    bool DeviceReportedSettings(std::string* serialNumber) const;
    void EndUnfinishedUpdate();
    void ResetSettingsState();
    void LogLine(int level, const std::string& text);
    // The result of the last update in words, with its code.
    std::string ResultInWords(int result) const;
    void WriteHistory(int result, uint32_t startTick);

    AppState& state_;
    UpdateUi& ui_;
    UpdateRequest request_;
    ProgressEstimate estimate_;  // elapsed time, rate and time left, from the loader's readings
    int progress_ = 0;
    UpdateStep failedStep_ = UpdateStep::None;
    uint32_t elapsedSeconds_ = 0;
    int restoreResult_ = 0;
    int connectResult_ = 0;
    bool settingsRestored_ = false;
    int batteryPercent_ = -1;
    std::string onePortFileNote_;
    std::string stoppedBefore_;
    UpdateRecord record_;

    FileLock nameLock_;  // this run's own settings file name
    FileLock fileLock_;  // another pending file this update works on
    UnfinishedUpdate unfinished_;  // the unfinished update a verified restore ends
    bool ownsUnfinished_ = false;
    SettingsOutcome settingsOutcome_ = SettingsOutcome::NoneNeeded;
    std::string settingsNote_;
    std::vector<SettingsCandidate> candidates_;
};
