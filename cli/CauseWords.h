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

// The sentences that explain a port that could not be opened and what to do,
// starting in lower case; empty for other codes.
std::string PortProblem(int code, const std::string& port);
