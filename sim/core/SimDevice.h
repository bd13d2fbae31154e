// One simulated device: its flash, its bootloader and the application
// firmware that runs from the flash.
//
// At start the flash holds the --state file's content or, without one, a
// firmware for --type/--version made as mkfirmware makes it. The device runs
// its application when the reset vector leads to an identity header and no
// update was left unfinished; otherwise it stays in its bootloader. After "V"
// it restarts (after --restart-ms) into whatever the flash then holds.
//
// Faults handled here: no-bootloader (the boot command is answered
// "KeloBSL MISSING"), boot-error (answered "ERROR"), unplug-restore=N (the
// cable is pulled once N settings have been written after the restart that
// ends an update; 0: at the restart); the bootloader's own faults are listed
// in SimBootloader.h.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "SimApp.h"
#include "SimBootloader.h"
#include "SimFlash.h"

class SimDevice : public SimDeviceControl {
public:
    SimDevice(const SimOptions& options, SimLine& line);
    ~SimDevice() override;

    // Loads the --state file or builds the starting flash; false with a reason.
    bool Start(std::string* error);
    void OnBytes(const char* data, std::size_t size);
    void OnTick(uint32_t nowMs);
    // Writes --flash-dump and --state files (on exit).
    void Shutdown();

    // SimDeviceControl
    const SimOptions& Options() const override { return options_; }
    SimLine& Line() override { return line_; }
    void EnterBootloader() override;
    std::string FirmwareVersionLine() const override;
    bool FirmwareGood() const override;
    std::map<std::string, std::string>& Settings() override { return settings_; }
    void SettingsChanged() override;
    bool TakePowerOn() override;

    bool InBootloader() const { return mode_ == Mode::Bootloader; }
    // An update ended ("V") and the device restarted into its firmware.
    bool UpdatedAndRunning() const { return writesSinceRestart_ >= 0 && mode_ == Mode::App; }
    const SimFlash& Flash() const { return flash_; }

private:
    enum class Mode { App, Bootloader, Restarting, Dark };

    // Runs what the flash holds: the application, or the bootloader.
    void Boot();
    void RunBootloader();
    bool BuildStartingFlash(std::string* error);
    bool LoadState(std::string* error);
    bool SaveState() const;
    bool WriteFlashDump() const;
    void CheckUnplugRestore();

    const SimOptions& options_;
    SimLine& line_;
    SimFlash flash_;
    SimBootloader bootloader_;
    std::unique_ptr<SimApp> app_;
    std::unique_ptr<SimApp> retiredApp_;  // an app that asked to leave, freed on the next turn
    std::map<std::string, std::string> settings_;
    Mode mode_ = Mode::Bootloader;
    bool updatePending_ = false;  // an erase or write began and "V" has not ended it
    uint32_t restartAtMs_ = 0;
    bool restartDue_ = false;
    bool poweredOn_ = true;  // no application has started yet
    long writesSinceRestart_ = -1;  // settings writes since the last restart after "V"; -1 before one
};
