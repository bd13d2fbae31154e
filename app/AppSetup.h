// Start-up of the application state shared by the window and the command
// line: the data folder, the log, the protocol objects and the target.
#pragma once

#include <memory>
#include <string>

#include "AppState.h"
#include "DataFolder.h"

struct SetupOptions {
    bool repMode = false;
    bool factoryMode = false;
    bool verboseLog = false;
    std::string dataFolder;   // empty: DefaultDataFolder()
    std::string logFilePath;  // empty: <data folder>/<caption>.errors.txt
    // Non-empty: <caption>-<tag>.errors.txt and <device>-<tag>.settings.txt,
    // and a given log file gets "-<tag>" before its extension.
    std::string fileTag;
};

// Fills the state as the window does at start-up: device name and caption
// from the build's target, rep and factory modes, the data folder, the log
// (level 30 when verbose, else 1), the port enumerator, and the instrument
// and bootloader objects with the one serial port they share. Returns false
// with a message when the data folder cannot be made.
bool SetUpAppState(AppState& state, const SetupOptions& options, std::string* error);

// <data folder>/<device name>.settings.txt, or <device name>-<file tag>.settings.txt
std::string SettingsFilePath(const AppState& state);

// In a run with several ports (a file tag): <data folder>/<device name>.settings.txt,
// the file a run with one port keeps; empty otherwise.
std::string OnePortSettingsFilePath(const AppState& state);

// Hands a loaded firmware file to the bootloader host: the device name,
// target version, settings file and progress ratio follow the file.
void AdoptFirmware(AppState& state, std::shared_ptr<const FirmwareImage> image);

// Deletes the log file when the run wrote nothing to it.
void CloseAppState(AppState& state);
