// The settings archive: a copy of every settings save, kept for good under
// <data folder>/archive/<device name>/<serial number or "no-sn">-<UTC time>.settings.txt.
// The updater adds files to it and never deletes or overwrites one.
#pragma once

#include <ctime>
#include <string>

// What a settings file on disk says about itself.
struct SettingsFileFacts {
    bool exists = false;
    std::string text;          // the whole file
    std::string serialNumber;  // empty when the file holds none
    std::time_t saved = 0;     // when it was last written
};

// Whose settings a file left by an unfinished update holds, against what was
// just read from the device: this device's (the same text), another
// instrument's (both name serial numbers, and they differ), or it cannot be
// told (they differ otherwise, or nothing could be read: reading is null).
enum class EarlierFileOwner { ThisDevice, AnotherInstrument, Unknown };
EarlierFileOwner OwnerOfEarlierFile(const SettingsFileFacts& earlier, const SettingsFileFacts* reading);

class SettingsArchive {
public:
    SettingsArchive(std::string dataFolder, std::string deviceName);

    // "20261208T081500Z"
    static std::string UtcStamp(std::time_t when);
    // "2026-12-08 09:15" in local time, for people.
    static std::string LocalDate(std::time_t when);
    static SettingsFileFacts ReadFacts(const std::string& path);

    std::string Folder() const;
    // Copies file into the archive under the serial number and time given;
    // a name already taken gets "-2", "-3" ... Returns the new path, or empty
    // with *error set.
    std::string Add(const std::string& file, const std::string& serialNumber, std::time_t when,
                    std::string* error) const;
    // Add, then remove the original.
    std::string MoveIn(const std::string& file, const std::string& serialNumber, std::time_t when,
                       std::string* error) const;

private:
    std::string dataFolder_;
    std::string deviceName_;
};
