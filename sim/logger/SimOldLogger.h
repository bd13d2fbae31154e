// The Qx7 with its old firmware: no "get -ver" (refused), identity and
// settings through "show", PADC through "hertz" and "set -p", the clock
// through "time", its built-in radio modem through "term", and "!" at the
// end of the erase confirmation.
#pragma once

#include <string>

#include "SimLoggerBase.h"
#include "SimTz9Modem.h"

class SimOldLogger : public SimLoggerBase {
public:
    SimOldLogger(SimDeviceControl& device, bool behindRadio);
    void OnBytes(const char* data, std::size_t size) override;

protected:
    std::string Handle(const std::string& line) override;

private:
    std::string VersionNumberText() const;

    SimTz9Modem modem_;
    std::string termLine_;
    bool terminal_ = false;
};
