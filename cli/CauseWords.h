// Codes turned into words for the person at the terminal. The code itself
// stays in brackets after the words, for support.
#pragma once

#include <cstdint>
#include <string>

#include "Result.h"
#include "ResultWords.h"

// What a failed file or folder operation means, from the system's error
// number: "no such file (error 2)".
std::string FileCause(int systemError);
// Why a firmware file could not be loaded (a code of loading it): for a file
// that is not valid TI-Text, the line and what was expected there.
std::string FirmwareFileProblem(int code, const std::string& path);

// The path a port name is opened as: on POSIX a bare name lives in /dev.
std::string PortPath(const std::string& port);
// The group to join to use a port: the one that owns it, when that group may
// read and write it; otherwise "dialout", the usual owner of serial ports.
std::string PortGroup(const std::string& path);
// The sentences that explain a port that could not be opened and what to do,
// starting in lower case; empty for other codes.
std::string PortProblem(int code, const std::string& port);

// The platform this program was built for: "Linux x86_64".
std::string BuildPlatform();
