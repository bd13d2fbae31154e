// kelobsl-cli restore-settings: a settings file (from the archive or
// elsewhere) written back to a device that runs its firmware.
#include <iostream>

#include "AppSetup.h"
#include "CauseWords.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "IdentifyDevice.h"
#include "InputFile.h"
#include "SettingsArchive.h"
#include "UpdateTexts.h"

namespace {

int Finish(AppState& state, int exitCode)
{
    state.instrument->QPDisconnect();
    CloseAppState(state);
    return exitCode;
}

}  // namespace

int RunRestoreSettingsCommand(const RestoreArgs& args)
{
    {
        // A folder, a pipe or a device is named as such, and is never opened plainly.
        InputFile check;
        InputFileStatus status = check.Open(args.file.c_str(), InputFileKind::Settings);
        if (status != InputFileStatus::Ok) {
            std::cerr << "kelobsl-cli: " << args.file << " " << InputFileProblem(status, InputFileKind::Settings)
                      << ".\n";
            return exit_code::kUsage;
        }
    }
    const SettingsFileFacts facts = SettingsArchive::ReadFacts(args.file);
    if (!facts.exists) {
        std::cerr << "kelobsl-cli: " << args.file << " is not a readable settings file.\n";
        return exit_code::kUsage;
    }

    AppState state;
    SetupOptions setup;
    setup.verboseLog = args.verbose;
    setup.dataFolder = args.dataDir;
    setup.logFilePath = args.logFile;
    std::string error;
    if (!SetUpAppState(state, setup, &error)) {
        std::cerr << "kelobsl-cli: " << error << ".\n";
        return exit_code::kUsage;
    }

    Kelo_protocol& instrument = *state.instrument;
    DeviceIdentity& identity = state.deviceIdentity;
    std::cout << "Connecting to the device on " << args.port << "...\n" << std::flush;
    int result = instrument.QPConnect(args.port.c_str(), device_line::kBaudIndex, device_line::kRetries, &identity);
    if (result::InLoader(result)) {
        std::cerr << "kelobsl-cli: the device on " << args.port
                  << " is in its firmware loader; update its firmware first (kelobsl-cli update).\n";
        return Finish(state, exit_code::kNoConnection);
    }
    if (result < 0) {
        std::cerr << "kelobsl-cli: "
                  << texts::ConnectionError(result, state.caption, state.deviceName, args.port, identity.versionNumber)
                  << "\n";
        const std::string port = PortProblem(result, args.port);
        std::cerr << "Cause: " << (port.empty() ? LineCause(result) + "." : port) << "\n";
        return Finish(state, result == result::kCannotUpdate ? exit_code::kWrongDevice : exit_code::kNoConnection);
    }
    if (!identity.saveSettings) {
        std::cerr << "kelobsl-cli: a " << identity.displayName << " keeps no settings to restore.\n";
        return Finish(state, exit_code::kWrongDevice);
    }

    const bool keepsSn = (Kelo_protocol::SaveMaskOfType(identity.type) & inst_mask::kSn) != 0;
    std::string status = texts::RestoringFromFile(args.file, SettingsArchive::LocalDate(facts.saved),
                                                  keepsSn ? facts.serialNumber : "");
    std::cout << status << "\n" << std::flush;
    if (state.log)
        state.log->LogMessage(1, "KeloBSL Host", "%s", status.c_str());

    result = instrument.QPRestoreInfo(args.file.c_str(), nullptr);
    if (result == result::kNotUnderstood) {
        std::cerr << "kelobsl-cli: " << args.file << " does not hold the settings of a " << identity.displayName
                  << "; nothing was written.\n";
        return Finish(state, exit_code::kUsage);
    }
    if (result == result::kSettingsIncomplete) {
        std::cerr << "kelobsl-cli: " << args.file << " is incomplete for a " << identity.displayName
                  << ": it lacks " << instrument.MissingKeys()
                  << "; nothing was written. Choose a complete copy from the archive.\n";
        return Finish(state, exit_code::kUsage);
    }
    if (result < 0) {
        std::cout << texts::RestoreError(result, state.caption, identity.displayName) << "\n"
                  << "Cause: " << LineCause(result) << ".\n";
        if (instrument.NotRestoredNames()[0])
            std::cout << "These settings did not go back: " << instrument.NotRestoredNames() << ".\n";
        return Finish(state, exit_code::kSettingsNotRestored);
    }
    std::cout << "Settings restored to the " << identity.displayName << " on " << args.port << ".\n";
    return Finish(state, exit_code::kSuccess);
}
