// What this process and the system it was built for are called.
#pragma once

#include <string>

// This program's process number: in temporary file names and lock holders' texts.
long ProcessId();

// The platform this program was built for: "Linux x86_64".
std::string BuildPlatform();
