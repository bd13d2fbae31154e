// The end of a run that updated several ports: one row per port and the
// run's exit code.
#pragma once

#include <string>
#include <vector>

struct PortResult {
    std::string port;
    std::string device;      // what answered, or "-" when nothing did
    std::string oldVersion;  // "-" when not read (a device found in its loader)
    std::string newVersion;  // the image's version
    int exitCode = 0;
    double seconds = 0;
    std::string message;     // the cause of a failure, empty on success
};

// 0 when every port succeeded, else the highest exit code among them.
int CombinedExitCode(const std::vector<PortResult>& results);
// "updated", "failed: no connection (3)" ...
std::string ResultWords(int exitCode);
// Aligned columns: port, device, old -> new, result, seconds, message.
std::string ResultTable(const std::vector<PortResult>& results);
