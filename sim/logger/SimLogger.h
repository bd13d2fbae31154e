// A logger with the new firmware (Qx70, Qx7b, HubTerminal, LinkCenter): the
// get/set command set, "get -ver", line-rate change, clock, post, battery,
// data erase, login/logout and query.
#pragma once

#include <string>

#include "SimLoggerBase.h"

class SimLogger : public SimLoggerBase {
public:
    SimLogger(SimDeviceControl& device, bool behindRadio);
    void OnBytes(const char* data, std::size_t size) override;

protected:
    std::string Handle(const std::string& line) override;

private:
    std::string Get(const std::string& what);
    std::string Set(const std::string& what, const std::string& value);
    std::string SetClockField(const std::string& value, bool date);
    std::string RadioAnswer(const std::string& value) const;

    uint32_t deviceBaud_ = 9600;
};
