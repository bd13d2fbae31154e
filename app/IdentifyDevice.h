// How every operation reaches a device on its firmware, and the read-only
// look at one: what it is, what it runs, its serial number and battery.
#pragma once

#include <string>

#include "DeviceTypes.h"
#include "Kelo_protocol.h"

namespace device_line {
constexpr int kBaudIndex = 2;  // 9600 baud: the rate every device starts at
constexpr int kRetries = 3;
}  // namespace device_line

struct DeviceReading {
    int connectResult = 0;  // the connection's result; -80/-81: the device waits in its firmware loader
    bool inLoader = false;
    DeviceIdentity identity;
    bool serialNumberRead = false;
    std::string serialNumber;  // empty: none set (or not read)
    int battery = -1;          // percent; -1 when not read
};

// Connects to the device on port, reads who it is, and disconnects. Nothing
// is written to the device.
DeviceReading IdentifyDevice(Kelo_protocol& instrument, const std::string& port);
