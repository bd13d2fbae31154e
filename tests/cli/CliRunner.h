// Runs kelobsl-cli as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct CliRun {
    int exitCode = -1;
    std::string out;  // stdout and stderr together
    int wallMs = 0;
    double cpuSeconds = 0;  // user + system time the program used
};

struct CliRunOptions {
    // Send SIGINT this many ms after the first line containing interruptAfterText.
    std::string interruptAfterText;
    std::vector<int> interruptDelaysMs;
    int timeoutMs = 120000;
    // A program that runs the command line in its place (e.g. setpriv as another user).
    std::vector<std::string> wrapper;
    // Runs it on a pseudo-terminal (its stdin, stdout and stderr; "\n" comes
    // out as "\r\n"), and types answer and Enter once the output shows askText.
    bool terminal = false;
    std::string askText;
    std::string answer;
};

CliRun RunCli(const std::vector<std::string>& args, const CliRunOptions& options = {});
std::string CliPath();
