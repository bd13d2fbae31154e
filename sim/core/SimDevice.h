// One simulated device: its flash, its bootloader and the application
// firmware that runs from the flash.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "SimApp.h"

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
    void SettingsChanged() override {}

private:
    const SimOptions& options_;
    SimLine& line_;
    std::unique_ptr<SimApp> app_;
    std::unique_ptr<SimApp> retiredApp_;  // an app that asked to leave, freed on the next turn
    std::map<std::string, std::string> settings_;
    bool inBootloader_ = false;
};
