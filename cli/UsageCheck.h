// Names what is wrong with a command line before CLI11 would complain that a
// required option is missing: "unknown option --prot; did you mean --port?".
#pragma once

#include <CLI/CLI.hpp>
#include <string>

// Empty when every command and option on the line is known.
std::string UsageProblem(CLI::App& app, int argc, const char* const* argv);
