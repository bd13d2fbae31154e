// The window's three remembered values. Each view stores them its own way
// (QSettings on Linux, the registry on Windows); the model only reads them
// at start-up and writes them at close.
#pragma once

#include <string>

struct PreferenceValues {
    bool findAllComms = false;
    bool verboseLog = false;
    bool hasCommPort = false;  // no stored port: nothing to preselect
    std::string commPort;
};

class Preferences {
public:
    virtual ~Preferences() = default;
    // Absent values read as the defaults above.
    virtual PreferenceValues Read() = 0;
    virtual void Write(const PreferenceValues& values) = 0;
};
