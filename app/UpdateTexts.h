// The texts the updater shows a person, built around the device's name.
// caption is "<device> Firmware Updater"; port is the chosen port's display text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "InputFile.h"

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

// Opening a firmware file (title "File Error"): the loader's result, and why
// the file was refused when it was (FirmwareImage::Load gives it).
std::string FileError(int code, InputFileStatus problem, const std::string& caption, const std::string& fileName);
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
// Waiting"): its settings (freshRead) differ, or could not be read.
std::string OnePortFileWaits(const std::string& device, const std::string& fileNote, bool freshRead);
// After the restart the device does not report the image just written (title "Firmware Error").
std::string NewFirmwareNotRunning(const std::string& device, const std::string& expected,
                                  const std::string& reported);
// Status line when the settings come from a file left by an earlier run.
std::string RestoringFromFile(const std::string& file, const std::string& date, const std::string& serialNumber);
std::string SerialNumberNotWritten(const std::string& serialNumber);

// Added to "Settings Retrieve Error" when the device named a serial number
// or any setting before its save failed.
std::string SettingsWouldBeLost(const std::string& device, const std::string& serialNumber);
// Why an update that went on after that ends without its settings.
std::string SettingsNotSaved(const std::string& device, const std::string& serialNumber,
                             const std::string& archiveFolder);
// The pending file, its archive copy or its record could not be written so
// that it lasts (title "Settings Error"): nothing is erased.
std::string SettingsNotSafe(const std::string& device, const std::string& why);
// Another update running now holds the settings file this one needs.
std::string WaitingForOtherUpdate(const std::string& file);
std::string SettingsFileInUse(const std::string& device, const std::string& file, const std::string& holder);
// "Which Instrument?": a device in its loader may be any of the listed
// unfinished updates (the front end lists them).
std::string WhichInstrumentQuestion(const std::string& device, const std::string& port);
// Why the settings were not restored, as a clause (the front end makes a
// sentence of it): a device in its loader for which no unfinished update of
// its type waits, or one updated without settings by the person's answer.
std::string NoSettingsForLoaderDevice(const std::string& device, const std::string& archiveFolder);
// candidates: how many were offered.
std::string UpdatedWithoutSettings(const std::string& device, const std::string& archiveFolder,
                                   std::size_t candidates);
// The settings file given beforehand cannot be used (title "Settings Error").
std::string AnsweredFileUnusable(const std::string& device, const std::string& problem);
// Said wherever the built-in image is shown while it is the demonstration one.
std::string DemoImageNote();

}  // namespace texts
