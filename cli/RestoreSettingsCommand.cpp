// kelobsl-cli restore-settings: a settings file (from the archive or
// elsewhere) written back to a device that runs its firmware.
#include <iostream>

#include "AppSetup.h"
#include "CauseWords.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "InputFile.h"
#include "RestoreSettings.h"
#include "SettingsArchive.h"
#include "UpdateTexts.h"

namespace {

// The outcome in the command's words, and its exit code.
int Report(const RestoreOutcome& outcome, const AppState& state, const RestoreArgs& args)
{
    const Result code = outcome.result;
    const DeviceIdentity& identity = outcome.identity;
    switch (outcome.step) {
    case RestoreStep::File:
        std::cerr << "kelobsl-cli: " << args.file << " is not a readable settings file.\n";
        return exit_code::kUsage;
    case RestoreStep::Connect: {
        if (result::InLoader(code)) {
            std::cerr << "kelobsl-cli: the device on " << args.port
                      << " is in its firmware loader; update its firmware first (kelobsl-cli update).\n";
            return exit_code::kNoConnection;
        }
        std::cerr << "kelobsl-cli: "
                  << texts::ConnectionError(code, state.caption, state.deviceName, args.port, identity.versionNumber)
                  << "\n";
        const std::string port = PortProblem(code, args.port);
        std::cerr << "Cause: " << (port.empty() ? LineCause(code) + "." : port) << "\n";
        return code == result::kCannotUpdate ? exit_code::kWrongDevice : exit_code::kNoConnection;
    }
    case RestoreStep::Device:
        std::cerr << "kelobsl-cli: a " << identity.displayName << " keeps no settings to restore.\n";
        return exit_code::kWrongDevice;
    case RestoreStep::Restore:
        break;
    }
    if (code == result::kNotUnderstood) {
        std::cerr << "kelobsl-cli: " << args.file << " does not hold the settings of a " << identity.displayName
                  << "; nothing was written.\n";
        return exit_code::kUsage;
    }
    if (code == result::kSettingsIncomplete) {
        std::cerr << "kelobsl-cli: " << args.file << " is incomplete for a " << identity.displayName << ": it lacks "
                  << outcome.missingKeys << "; nothing was written. Choose a complete copy from the archive.\n";
        return exit_code::kUsage;
    }
    if (code < 0) {
        std::cout << texts::RestoreError(code, state.caption, identity.displayName) << "\n"
                  << "Cause: " << LineCause(code) << ".\n";
        if (!outcome.notRestored.empty())
            std::cout << "These settings did not go back: " << outcome.notRestored << ".\n";
        return exit_code::kSettingsNotRestored;
    }
    std::cout << "Settings restored to the " << identity.displayName << " on " << args.port << ".\n";
    return exit_code::kSuccess;
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

    std::cout << "Connecting to the device on " << args.port << "...\n" << std::flush;
    const RestoreOutcome outcome =
        RestoreSettings(*state.instrument, args.port, args.file, state.log.get(),
                        [](const std::string& status) { std::cout << status << "\n" << std::flush; });
    const int exitCode = Report(outcome, state, args);
    CloseAppState(state);
    return exitCode;
}
