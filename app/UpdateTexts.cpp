#include "UpdateTexts.h"

#include "InputFile.h"
#include "Result.h"

namespace texts {

namespace {

std::string UnableToConnect(const std::string& caption, const std::string& device, const std::string& port)
{
    return "The " + caption + " is unable to connect to your " + device + "\n on Comm Port \"" + port +
           "\".\n\nPlease check your serial cable and Comm Port choice.";
}

}  // namespace

std::string Caption(const std::string& device)
{
    return device + " Firmware Updater";
}

std::string ConnectionError(int code, const std::string& caption, const std::string& device,
                            const std::string& port, uint32_t versionNumber)
{
    switch (code) {
    case result::kPortInUse:
        return "Comm Port \"" + port + "\" is already in use by another application.\n" +
               "Please choose a new Comm Port to use or quit the application using this port.";
    case result::kNoSuchPort:
        return "Comm Port \"" + port + "\" isn't available.\nPlease choose a new Comm Port to use.";
    case result::kDeviceSilent:
        return UnableToConnect(caption, device, port);
    case result::kCannotUpdate:
        if (versionNumber != 0)
            return "The " + caption + " does not support your " + device + "\n running version " +
                   std::to_string(versionNumber) + ".";
        return UnableToConnect(caption, device, port) + "\n\nPlease verify your" + " " + device +
               " has a supported version of firmware.";
    default:
        return UnableToConnect(caption, device, port) + "\nError " + std::to_string(code);
    }
}

std::string WrongDevice(const std::string& caption, const std::string& device, const std::string& found)
{
    return "The " + caption + " expected to find a " + device + ";\nhowever, it found a " + found +
           ".\n\nThis updater can not update a " + found + ".";
}

std::string FirmwareTooOld(const std::string& device)
{
    return "The firmware in the connected " + device + "\nis too old.\n\nThis updater can not update this device.";
}

std::string NewerFirmware(const std::string& device)
{
    return "The firmware in your " + device + "\nis newer than the version in this updater.\n\n" +
           "Are you sure you want to load older firmware.";
}

std::string BatteriesTooLow()
{
    return std::string("The battery power is too low!\n\n") +
           "Please replace the batteries before running this updater.";
}

std::string SettingsRetrieveQuestion(const std::string& caption, const std::string& device)
{
    return "The " + caption + " could not retrieve the settings from your " + device +
           ".\nThis can happen when an intrument is new or doesn't have " +
           "a serial number set yet.\n\nClick OK to continue loading new firmware." +
           "\nClick CANCEL to try retrieving the settings again.";
}

std::string SettingsError(const std::string& caption, const std::string& device)
{
    return "This " + caption + " could not retrieve the settings from your " + device +
           ".\nPlease try again or contact Tessaly for help.";
}

std::string LoaderMissing(const std::string& device)
{
    // One full stop: the sentence used to end in two.
    return "This " + device + " does not have a working firmware loader." +
           "\n\nPlease contact Tessaly for help.";
}

std::string LoaderNoAnswer(const std::string& caption, const std::string& device)
{
    return "The " + caption + " is unable to connect to the firmware loader in your " + device +
           ".\n\nPlease try again.";
}

std::string WorkingError(const std::string& caption, const std::string& device, int code)
{
    return "The " + caption + " encountered an error working with your " + device +
           ".\n\nPlease try again.\n\n[Error " + std::to_string(code) + "]";
}

std::string FirmwareCorrupt(const std::string& device)
{
    return "The new firmware for your " + device + " is corrupt!\n\nPlease try again or contact Tessaly.";
}

std::string RestoreError(int code, const std::string& caption, const std::string& device)
{
    switch (code) {
    case result::kNoSettingsFile:
        return "The " + caption + " couldn't find the settings file for your " + device +
               ".\n\nPlease try again or contact Tessaly for help.";
    case result::kSettingsUnreadable:
    case result::kSettingsFileBroken:
        return "The " + caption + " failed to read the settings file for your " + device +
               ".\n\nPlease try again or contact Tessaly for help." + "\n\nError: " + std::to_string(code);
    case result::kSomeSettingsMissing:
        return "The " + caption + " failed to restore some of the settings for your " + device +
               ".\n\nPlease check the settings after this updater is finished.";
    default:
        return "The " + caption + " failed to restore the settings for your " + device +
               ".\n\nPlease try again.\n\n[Error " + std::to_string(code) + "]";
    }
}

std::string DataEraseError(int code, const std::string& caption, const std::string& device)
{
    if (code == result::kDataMemoryErrors)
        // The blank before "because" was missing.
        return "The " + caption + " was unable to erase the data in your " + device +
               " because the data storage chip is reporting errors.\n\nPlease contact Tessaly for help.";
    return "The " + caption + " was unable to erase the data in your " + device +
           ".\nPlease try again.\n[Error: " + std::to_string(code) + "]";
}

std::string ConnectingStatus(const std::string& device)
{
    return "Connecting to " + device + "...";
}

std::string SuccessStatus(uint32_t seconds)
{
    return "Successfully updated firmware in " + std::to_string(seconds) + " seconds.";
}

std::string SettingsNotRestoredStatus(uint32_t seconds)
{
    return "Firmware updated in " + std::to_string(seconds) + " seconds, but the settings were NOT restored.";
}

std::string SettingsNotRestoredConnect(const std::string& device)
{
    return "Your " + device + " runs its new firmware without its settings: keep the settings file and restore it.";
}

std::string BatteryUnreadable(const std::string& device)
{
    return "The battery level of your " + device +
           " could not be read.\nAn update on a flat battery could stop half-way and leave it without firmware.\n"
           "Charge or replace the batteries, then try again.";
}

std::string DoNotDisconnect(const std::string& device)
{
    return "Do NOT disconnect " + device + " until finished.";
}

std::string ConnectDevice(const std::string& device)
{
    return "Connect " + device + " to computer comm port.";
}

std::string MayDisconnect(const std::string& device)
{
    return "You may disconnect your " + device + " now.";
}

std::string DontQuitNow(const std::string& caption, const std::string& device)
{
    return "The " + caption + " is updating your " + device + "!\nThis process should NOT be interrupted.\n\n" +
           "Your " + device + " may be unusable or have missing settings\n" +
           "until you complete the firmware update process.\n\n" + "Click OK to continue updating your" +
           " " + device + ".\n";
}

std::string DataEraseWarning(const std::string& caption, const std::string& device)
{
    return "WARNING: The " + caption + " will erase all measurment data\n stored in your " + device +
           ".\n\n Please download any data you want to save before continuing.";
}

std::string HelpText(const std::string& caption, const std::string& device, bool storedDataWarning)
{
    std::string text = "The " + caption + " replaces the firmware that operates your " + device + ".\n" +
                       "Following the simple steps will help ensure a successful update.\n\n";
    if (storedDataWarning)
        text += "WARNING: Updating the firmware in your " + device + " will erase any stored measurement data.\n" +
                "Please download any measurement data stored in your" + " " + device + " that you want to save.\n\n";
    text += "Step 1. Connect your " + device + " to an available serial communication port " +
            "on your computer.\n\n";
    text += "Step 2. Select the correct serial port from the Comm Port control.\n\n";
    text += "Step 3. Click the \"Start\" button. The updater shows progress in the Status area.\n\n";
    text += "WARNING: Do not disconnect your " + device + " from the computer while the updater is running.\n" +
            "An incomplete firmware update could leave your " + device + " unusable.\n\n";
    text += "WARNING: Do not quit the " + device + " Firmware Updater while the updater is running.\n" +
            "An incomplete firmware update could leave your " + device + " unusable.\n\n";
    text += "Step 4. Once the update is complete, you can disconnect your " + device + " from the computer.\n";
    text += "Please verify your " + device + " configuration is correct. " +
            "Enjoy using the updated firmware version.\n\n";
    text += "If you have trouble with this " + device + " Firmware Updater, Please contact Tessaly or\n" +
            "an authorized Tessaly Distributor for help:\n\n";
    text += "Tessaly Devices, Inc\nTechnical support: through your Tessaly distributor\n";
    return text;
}

std::string AboutText(const std::string& engineVersion)
{
    return std::string("Tessaly Universal Firmware Updater for Windows\n\n") + "KeloBSL Engine version " +
           engineVersion + "\nCommunication Protocol version " + "1.5.8" + "\n\n" +
           "Copyright Tessaly Devices, Inc. All rights reserved.";
}

std::string FileError(int code, InputFileStatus problem, const std::string& caption, const std::string& fileName)
{
    if (code == result::kNotFirmware)
        return "The file \"" + fileName + "\" is not a valid firmware file.\n" +
               "Please choose a new firmware file to open.";
    if (code == result::kOutOfMemory)
        return "The " + caption + " ran out of memory opening \"" + fileName + "\".\n" +
               "Please restart this application and try again.";
    if (code == result::kFirmwareUnreadable && problem != InputFileStatus::Ok)
        return "The file \"" + fileName + "\" " + InputFileProblem(problem, InputFileKind::Firmware) + ".\n" +
               "Please choose a firmware file to open.";
    return "The " + caption + " could not opening \"" + fileName + "\".\n" + "Please try again.\nError " +
           std::to_string(code);
}

std::string SettingsConflictQuestion(const std::string& device, const std::string& file, const std::string& date,
                                     bool freshRead)
{
    return "A settings file from an earlier, unfinished update of this " + device + " was found:\n" + file +
           "\n(saved " + date + ").\n\n" +
           (freshRead ? "It differs from the settings just read from your " + device + "."
                      : "The settings of your " + device + " could not be read just now.") +
           "\n\nClick OK to load the new firmware and then restore the saved settings" +
           " (what was just read is kept in the settings archive)." +
           "\nClick CANCEL to stop now; nothing has been erased.";
}

std::string SettingsFileNote(const std::string& file, const std::string& date, const std::string& serialNumber)
{
    return file + " (saved " + date + (serialNumber.empty() ? "" : ", serial number " + serialNumber) + ")";
}

std::string OnePortFileWaits(const std::string& device, const std::string& fileNote, bool freshRead)
{
    std::string text = "A settings file from an earlier, unfinished update of a " + device + " was found:\n" +
                       fileNote + ".\n\n";
    return text +
           (freshRead ? "It differs from the settings just read from this " + device + "."
                      : "The settings of this " + device + " could not be read just now.") +
           " Nothing has been erased.";
}

std::string NewFirmwareNotRunning(const std::string& device, const std::string& expected,
                                  const std::string& reported)
{
    return "The new firmware for your " + device + " did not start: it now reports " + reported +
           " instead of " + expected + ".\n\nThe settings file is kept. Please try again or contact Tessaly.";
}

std::string RestoringFromFile(const std::string& file, const std::string& date, const std::string& serialNumber)
{
    std::string text = "Restoring settings from " + file + " (saved " + date;
    if (!serialNumber.empty())
        text += ", serial number " + serialNumber;
    return text + ")...";
}

std::string SerialNumberNotWritten(const std::string& serialNumber)
{
    return "The serial number " + serialNumber + " was not written: the device refused it.";
}

std::string SettingsWouldBeLost(const std::string& device, const std::string& serialNumber)
{
    return "This " + device + " is not new: it reported " +
           (serialNumber.empty() ? std::string("some of its settings") : "the serial number " + serialNumber) +
           " before the save failed. Going on erases its settings, and they are not restored.";
}

std::string SettingsNotSaved(const std::string& device, const std::string& serialNumber,
                             const std::string& archiveFolder)
{
    return "the settings of this " + device +
           (serialNumber.empty() ? std::string() : " (serial number " + serialNumber + ")") +
           " could not be read before the update, so they were not restored; an earlier save of them may be in " +
           archiveFolder;
}

std::string SettingsNotSafe(const std::string& device, const std::string& why)
{
    return "The settings of your " + device + " could not be saved safely: " + why +
           ".\n\nNothing has been erased. Make room in the data folder (or choose another one) and try again.";
}

std::string WaitingForOtherUpdate(const std::string& file)
{
    return "Waiting for another update that uses " + file + "...";
}

std::string SettingsFileInUse(const std::string& device, const std::string& file, const std::string& holder)
{
    return "Another update running now uses the settings file " + file + ":\n" +
           (holder.empty() ? std::string("(it does not say which)") : holder) +
           ".\n\nNothing has been changed on this " + device +
           ". Let the other update finish, then start this one again.";
}

std::string WhichInstrumentQuestion(const std::string& device, const std::string& port)
{
    return "The " + device + " on " + port +
           " waits in its firmware loader, where it cannot say which instrument it is.\n" +
           "These unfinished updates of a " + device + " hold settings that have not gone back yet.\n\n" +
           "Which instrument is this? Its settings are restored after the new firmware. " +
           "With none of these, it is updated without settings.";
}

std::string NoSettingsForLoaderDevice(const std::string& device, const std::string& archiveFolder)
{
    return "no unfinished update of a " + device + " holds the settings of this " + device +
           " found in its firmware loader: its firmware is updated, its settings are not restored; they may still "
           "be in " + archiveFolder + " (restore one with restore-settings)";
}

std::string UpdatedWithoutSettings(const std::string& device, const std::string& archiveFolder,
                                   std::size_t candidates)
{
    return "this " + device + " was updated without settings, as answered" +
           (candidates ? std::string(" (the unfinished updates offered are kept)") : std::string()) +
           "; its settings are not restored and may still be in " + archiveFolder +
           " (restore one with restore-settings)";
}

std::string AnsweredFileUnusable(const std::string& device, const std::string& problem)
{
    return "The settings file given for this " + device + " cannot be used: " + problem +
           ".\n\nNothing has been written to it.";
}

std::string DemoImageNote()
{
    return "demonstration image, not a real firmware: build with "
           "-DKELO_BUILTIN_IMAGE=<the maker's TI-Text file> to embed the real one";
}

std::string UnknownFirmwareType(const std::string& fileName)
{
    return "The name of the file \"" + fileName + "\" does not say which device it is for.\n" +
           "Firmware files are named MODEL-M-mp.txt, for example R7F-3-52.txt for version 3.52 of the R7F.\n" +
           "Please choose a firmware file named that way.";
}

}  // namespace texts
