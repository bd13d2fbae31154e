// The Tz9 radio modem: relays bytes between the host and the logger in the
// field, and after "+++" takes AT commands (ATHP channel, ATDT subchannel,
// ATVR version, ATWR store, ATCN back to relaying). The same AT interpreter
// sits inside the old Qx7, reached with its "term" command.
#pragma once

#include <memory>
#include <string>

#include "SimApp.h"

class SimTz9Modem : public SimApp {
public:
    // far: the logger at the other end of the radio link (may be null when
    // the modem is only used for its AT commands). prefix: settings key prefix.
    SimTz9Modem(SimDeviceControl& device, std::unique_ptr<SimApp> far, std::string prefix);
    void OnBytes(const char* data, std::size_t size) override;
    void OnTick(uint32_t nowMs) override;

    // The AT interpreter alone, for a modem built into a logger: feeds bytes,
    // returns true while command mode lasts.
    void AtBytes(const char* data, std::size_t size);
    bool InCommandMode() const { return commandMode_; }

private:
    void Relay(const char* data, std::size_t size);
    std::string AtCommand(const std::string& line);
    std::string Setting(const std::string& key, const std::string& fallback) const;

    SimDeviceControl& device_;
    std::unique_ptr<SimApp> far_;
    std::string prefix_;
    bool commandMode_ = false;
    int pluses_ = 0;
    std::string line_;
    std::string pendingHp_, pendingDt_;  // set but not yet stored with ATWR
};
