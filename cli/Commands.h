// The three commands of kelobsl-cli.
#pragma once

#include <string>

struct UpdateArgs {
    std::string port;
    std::string firmware;   // a TI-Text file instead of the built-in image (rep mode)
    std::string newSn;      // factory: write this serial number
    bool keepData = false;  // factory: do not erase the stored data
    bool yes = false;
    std::string dataDir;
    std::string logFile;
    bool verbose = false;
    bool json = false;
};

int RunUpdateCommand(const UpdateArgs& args);
int RunListPortsCommand(bool all, bool json);
int RunInspectCommand(const std::string& file, bool json);

// Why a replacement serial number cannot be used, or empty when it can.
std::string CheckNewSerialNumber(const std::string& sn);
