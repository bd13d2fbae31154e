// Restore-only: a settings file (from the archive or elsewhere) written back
// into a device that runs its firmware, outside an update. Every setting is
// read back; what did not go back is named. Nothing is printed here: the
// front end words the outcome.
#pragma once

#include <functional>
#include <string>

#include "DeviceTypes.h"
#include "KeloLog.h"
#include "Kelo_protocol.h"
#include "Result.h"

// Where a restore stopped. The step tells codes apart that two steps share
// (result::kNotForThisDevice, result::kNotUnderstood).
enum class RestoreStep {
    File,     // the file could not be read (result::kNoSettingsFile); nothing was sent
    Connect,  // the device was not reached, or waits in its firmware loader (result::InLoader)
    Device,   // reached, but its type keeps no settings (result::kNotForThisDevice)
    Restore,  // the file went to the device: result is the restore's
};

struct RestoreOutcome {
    Result result = 0;  // positive: every setting went back and reads back as written
    RestoreStep step = RestoreStep::File;
    DeviceIdentity identity;  // as the connection found it
    std::string status;       // "Restoring the settings from ...", once the write starts; also logged
    std::string missingKeys;  // result::kSettingsIncomplete: the keys the file lacks
    std::string notRestored;  // the settings that did not go back, "adccal, config"; empty when all did
};

// Told the status line just before the settings are written, so that a
// person sees what is being written while the device is busy.
using RestoreStarting = std::function<void(const std::string& status)>;

// Connects to the device on port, refuses one in its firmware loader or one
// that keeps no settings, writes file into it (a file of another device type
// is refused by the protocol, and nothing is written), and disconnects.
// The file's serial number is shown only where the type keeps one.
RestoreOutcome RestoreSettings(Kelo_protocol& instrument, const std::string& port, const std::string& file,
                               KeloLog* log, const RestoreStarting& starting = {});
