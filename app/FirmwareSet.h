// The firmware files of one run: at most one for each device type, so that
// a tray of mixed instruments is updated in one go, each with the file for
// its type. The type comes from the file's name ("R7F-3-52.txt").
#pragma once

#include <map>
#include <string>

class FirmwareSet {
public:
    // Adds the file given for its type. False with *error when its name
    // names no device type, or the type already has a file.
    bool Add(const std::string& path, std::string* error);
    // Adds the newest MODEL-M-mp.txt of each device type in folder (names
    // that give no type or no version are passed over). False with *error
    // when the folder cannot be read or holds no such file, or a type
    // already has a file.
    bool AddFolder(const std::string& folder, std::string* error);

    // The file for the device type, or null when the run has none for it.
    const std::string* For(int type) const;
    bool Empty() const { return files_.empty(); }
    // device type -> file
    const std::map<int, std::string>& Files() const { return files_; }

private:
    std::map<int, std::string> files_;
};
