// The commands of kelobsl-cli.
#pragma once

#include <string>
#include <vector>

#include "SerialNumberList.h"  // CheckNewSerialNumber

struct UpdateArgs {
    std::vector<std::string> ports;  // as given; with one, port is that one
    std::string port;
    std::string firmware;   // a TI-Text file instead of the built-in image (rep mode)
    std::string newSn;      // factory: write this serial number
    std::string newSnFrom;  // factory: take each device's serial number from this list
    bool keepData = false;  // do not erase the stored measurements
    bool yes = false;
    std::string settingsFrom;  // "saved", "device" or empty: the answer to "Settings Conflict"
    // The answer to "Which Instrument?" for a device found in its loader:
    // restore this file, or update without settings.
    std::string settingsFile;
    bool noSettings = false;
    bool demoImage = false;    // allow writing the demonstration image
    std::string dataDir;
    std::string logFile;
    bool verbose = false;
    bool json = false;
};

struct InfoArgs {
    std::string port;
    std::string firmware;  // judge against this file instead of the built-in image
    bool json = false;
};

int RunUpdateCommand(const UpdateArgs& args);

struct StationArgs {
    std::vector<std::string> ports;
    std::vector<std::string> firmware;  // at most one file per device type
    std::string firmwareDir;            // the newest file of each type in it
    std::string newSnFrom;              // each device's serial number from this list
    std::string newSn;                  // refused: one number would go to every device
    int count = 0;                      // stop after this many devices; 0: at Ctrl+C
    bool keepData = false;
    bool yes = false;
    bool demoImage = false;
    std::string dataDir;
    bool verbose = false;
    bool json = false;
};
// A factory line: every port updates each device plugged into it, one after
// another, until Ctrl+C or --count devices.
int RunStationCommand(const StationArgs& args);

struct RestoreArgs {
    std::string port;
    std::string file;
    std::string dataDir;
    std::string logFile;
    bool verbose = false;
};
// Writes a settings file (from the archive or elsewhere) back to a device
// running its firmware, with the same checks as an update's restore.
int RunRestoreSettingsCommand(const RestoreArgs& args);
int RunInfoCommand(const InfoArgs& args);

struct HistoryArgs {
    std::string dataDir;
    bool json = false;
};
// The update history of the data folder, newest first.
int RunHistoryCommand(const HistoryArgs& args);
int RunListPortsCommand(bool all, bool json);
int RunInspectCommand(const std::string& file, bool json);

