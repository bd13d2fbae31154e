// What a simulated application firmware (a command interpreter) sees of the
// device it runs on, and what the device asks of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "SimLine.h"
#include "SimOptions.h"

class SimDeviceControl {
public:
    virtual ~SimDeviceControl() = default;
    virtual const SimOptions& Options() const = 0;
    virtual SimLine& Line() = 0;
    // The firmware accepted its boot command: from the next byte on the
    // bootloader has the line. The application object is destroyed after the
    // call returns, so it must not touch itself afterwards.
    virtual void EnterBootloader() = 0;
    // The version line of the firmware in flash ("R7F 3.52"), from its
    // identity header; empty when there is none.
    virtual std::string FirmwareVersionLine() const = 0;
    // True when the identity header is there and its CRC matches.
    virtual bool FirmwareGood() const = 0;
    // Settings live in the information flash: erasing it empties this map.
    virtual std::map<std::string, std::string>& Settings() = 0;
    // Call after changing Settings() so that a --state file keeps them.
    virtual void SettingsChanged() = 0;
    // True for the first application start after power-on (each device of a
    // tray is powered on afresh), false ever after.
    virtual bool TakePowerOn() = 0;
};

class SimApp {
public:
    virtual ~SimApp() = default;
    // Bytes from the host, in arrival order (already paced).
    virtual void OnBytes(const char* data, std::size_t size) = 0;
    // Called about every 10 ms, for anything that happens by itself.
    virtual void OnTick(uint32_t /*nowMs*/) {}
};

// The application firmware for the device's type word (sim/core/SimAppFactory.cpp).
std::unique_ptr<SimApp> MakeSimApp(SimDeviceControl& device);

// Each family returns null when the type word is not one of its own.
std::unique_ptr<SimApp> MakeLoggerApp(SimDeviceControl& device);      // sim/logger/
std::unique_ptr<SimApp> MakeInstrumentApp(SimDeviceControl& device);  // sim/instrument/
