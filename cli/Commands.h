// The commands of kelobsl-cli.
#pragma once

#include <string>
#include <vector>

struct UpdateArgs {
    std::vector<std::string> ports;  // as given; with one, port is that one
    std::string port;
    std::string firmware;   // a TI-Text file instead of the built-in image (rep mode)
    std::string newSn;      // factory: write this serial number
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

// Why a replacement serial number cannot be used, or empty when it can.
std::string CheckNewSerialNumber(const std::string& sn);
