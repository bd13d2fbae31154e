// What one update takes (UpdateRequest), what it reports on the way (the
// step reached, Progress: see UpdateUi) and what it gives back
// (UpdateOutcome). The window and the command line fill the same request and
// read the same outcome; neither looks into the workflow's state for them.
#pragma once

#include <string>

#include "DeviceTypes.h"
#include "ProgressEstimate.h"

// Which step an update reached, and which ended it, so a front end can tell
// the person (or a script's exit code) what kind of failure it was.
enum class UpdateStep {
    None,
    Connect,        // no connection to the device
    DeviceCheck,    // wrong device, firmware too old, batteries too low
    Question,       // the person declined ("Newer Firmware", "Settings Retrieve Error")
    Stopped,        // Ctrl+C twice (or the window's stop) before the firmware was touched
    SaveSettings,
    SettingsConflict,  // "Settings Conflict" answered Cancel (or not answered)
    OnePortSettingsFile,  // a run with several ports found a one-port run's settings file it cannot settle
    Loader,         // the bootloader did not answer
    LoaderMissing,  // the device has no working bootloader
    Erase,
    Upload,
    Reconnect,
    FirmwareCheck,
    DataErase,
    SettingsInUse,     // another update, running now, holds the settings file this one needs
    WhichInstrument,   // a device in its loader: "Which Instrument?" not answered, or answered with a file that cannot be used
    Done,
};

// What became of the instrument's settings in an update that reached its end.
enum class SettingsOutcome {
    NoneNeeded,   // the type keeps none, or the instrument had none yet
    Restored,     // written back and read back equal
    NotRestored,  // the firmware is new, the settings are not (the outcome's settingsNote says why and where they may be)
};

// What the person asks of one update. The image to write is the one loaded
// into the state's firmware loader; image names it for the front end.
struct UpdateRequest {
    std::string port;       // the port's path, as opened
    std::string portLabel;  // what messages call the port (empty: its path)
    std::string image;      // the firmware file, or the built-in image's label
    std::string newSerialNumber;  // written after the update (factory); empty: the serial number stays
    bool keepData = false;        // leave the stored measurements on a type that erases them
    // The answer to "Which Instrument?" given beforehand (the command line's
    // --settings-file and --no-settings): the settings file to restore into a
    // device found in its loader, or none at all. Not asked then. "Settings
    // Conflict" stays a question the front end answers (--settings-from).
    std::string settingsFile;
    bool noSettings = false;
};

// What came of one update.
struct UpdateOutcome {
    int result = 0;                      // 1 updated; else the negative result that ended it
    UpdateStep step = UpdateStep::None;  // the step that ended it (Done when it ran to the end)
    int connectResult = 0;               // the first connection's own code (-80/-81: found in its loader)
    DeviceIdentity device;               // the device as it last answered (type 0: none did)
    SettingsOutcome settings = SettingsOutcome::NoneNeeded;
    std::string settingsNote;  // why the settings were not restored and where they may be; empty when they were
    std::string settingsFile;  // the pending settings file this update used
    std::string logFile;       // this run's log
    std::string words;         // the result in words, as the update history keeps it
    uint32_t seconds = 0;      // how long a finished update took
};
