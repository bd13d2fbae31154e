// The texts the updater shows a person, built around the device's name.
// caption is "<device> Firmware Updater"; port is the chosen port's display text.
#pragma once

#include <cstdint>
#include <string>

namespace texts {

std::string Caption(const std::string& device);

// Connection failures before the update starts (title "Connection Error").
std::string ConnectionError(int code, const std::string& caption, const std::string& device,
                            const std::string& port, uint32_t versionNumber);
std::string WrongDevice(const std::string& caption, const std::string& device, const std::string& found);
std::string FirmwareTooOld(const std::string& device);
std::string NewerFirmware(const std::string& device);
std::string BatteriesTooLow();
std::string SettingsRetrieveQuestion(const std::string& caption, const std::string& device);
std::string SettingsError(const std::string& caption, const std::string& device);
std::string LoaderMissing(const std::string& device);
std::string LoaderNoAnswer(const std::string& caption, const std::string& device);
// The common text of the erase, upload and reconnection failures.
std::string WorkingError(const std::string& caption, const std::string& device, int code);
std::string FirmwareCorrupt(const std::string& device);
// Restore failures (title "Settings Error"): reported, the update goes on.
std::string RestoreError(int code, const std::string& caption, const std::string& device);
std::string DataEraseError(int code, const std::string& caption, const std::string& device);

std::string ConnectingStatus(const std::string& device);
std::string SuccessStatus(uint32_t seconds);
// The end of an update whose firmware went in but whose settings did not all go back.
std::string SettingsNotRestoredStatus(uint32_t seconds);
std::string SettingsNotRestoredConnect(const std::string& device);
// The battery check got no level (title "Battery Error").
std::string BatteryUnreadable(const std::string& device);

std::string DoNotDisconnect(const std::string& device);
std::string ConnectDevice(const std::string& device);
std::string MayDisconnect(const std::string& device);

// Quitting during an update (title "Don't Quit Now!").
std::string DontQuitNow(const std::string& caption, const std::string& device);
std::string DataEraseWarning(const std::string& caption, const std::string& device);

// The Help menu's two texts. storedDataWarning is the target type's switch;
// an empty version leaves the version line without one.
std::string HelpText(const std::string& caption, const std::string& device, bool storedDataWarning);
std::string AboutText(const std::string& engineVersion);

// Opening a firmware file (title "File Error").
std::string FileError(int code, const std::string& caption, const std::string& fileName);
// A firmware file whose name names no device type (title "File Error").
std::string UnknownFirmwareType(const std::string& fileName);

// "Settings Conflict": a settings file left by an earlier run differs from
// what was just read (or nothing could be read).
std::string SettingsConflictQuestion(const std::string& device, const std::string& file, const std::string& date,
                                     bool freshRead);
// "<file> (saved <date>, serial number <sn>)", without the number when there is none.
std::string SettingsFileNote(const std::string& file, const std::string& date, const std::string& serialNumber);
// A run with several ports found the settings file of an unfinished one-port
// update and cannot tell that it is not this device's (title "Settings File
// Waiting"): the device waits in its loader, or its settings (freshRead) differ.
std::string OnePortFileWaits(const std::string& device, const std::string& fileNote, bool inLoader, bool freshRead);
// After the restart the device does not report the image just written (title "Firmware Error").
std::string NewFirmwareNotRunning(const std::string& device, const std::string& expected,
                                  const std::string& reported);
// Status line when the settings come from a file left by an earlier run.
std::string RestoringFromFile(const std::string& file, const std::string& date, const std::string& serialNumber);
std::string SerialNumberNotWritten(const std::string& serialNumber);
// Said wherever the built-in image is shown while it is the demonstration one.
std::string DemoImageNote();

}  // namespace texts
