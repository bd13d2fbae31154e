// What the tests need from the platform they run on, in one place, so the
// same tests build for Linux and Windows.
#pragma once

#include <ctime>
#include <string>

// A port name that no system has.
extern const char* const kMissingPort;

// True under Wine, whose COM ports differ from Windows' in ways some tests
// must allow for (no exclusive opens, no COM ports in the device list).
bool RunningUnderWine();

// CPU time this process has used, in ms (std::clock() is wall time on Windows).
double ProcessCpuMs();

// Sets (or, with a null value, removes) an environment variable.
void SetEnvironment(const char* name, const char* value);

// gmtime_r and timegm, which Windows spells differently.
std::tm UtcFields(std::time_t t);
std::time_t FromUtcFields(std::tm* fields);

// A fresh, empty folder under the system's temporary folder; empty on failure.
std::string MakeTempFolder();
