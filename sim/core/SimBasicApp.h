// The smallest command interpreter: answers "get -ver" with the firmware's
// version line and the prompt, "boot <word>" by starting the bootloader, and
// anything else with "?". Used for type words no family claims.
#pragma once

#include <string>

#include "SimApp.h"

class SimBasicApp : public SimApp {
public:
    explicit SimBasicApp(SimDeviceControl& device) : device_(device) {}
    void OnBytes(const char* data, std::size_t size) override;

private:
    SimDeviceControl& device_;
    std::string line_;
};
