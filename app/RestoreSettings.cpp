#include "RestoreSettings.h"

#include "IdentifyDevice.h"
#include "SettingsArchive.h"
#include "UpdateTexts.h"

namespace {

RestoreOutcome Stop(Kelo_protocol& instrument, RestoreOutcome outcome, RestoreStep step, Result code)
{
    outcome.step = step;
    outcome.result = code;
    instrument.QPDisconnect();
    return outcome;
}

}  // namespace

RestoreOutcome RestoreSettings(Kelo_protocol& instrument, const std::string& port, const std::string& file,
                               KeloLog* log, const RestoreStarting& starting)
{
    RestoreOutcome outcome;
    const SettingsFileFacts facts = SettingsArchive::ReadFacts(file);
    if (!facts.exists) {
        outcome.result = result::kNoSettingsFile;
        return outcome;
    }

    DeviceIdentity& identity = outcome.identity;
    const Result connected =
        instrument.QPConnect(port.c_str(), device_line::kBaudIndex, device_line::kRetries, &identity);
    if (connected < 0)
        return Stop(instrument, outcome, RestoreStep::Connect, connected);
    if (!identity.saveSettings)
        return Stop(instrument, outcome, RestoreStep::Device, result::kNotForThisDevice);

    const bool keepsSn = (Kelo_protocol::SaveMaskOfType(identity.type) & inst_mask::kSn) != 0;
    outcome.status = texts::RestoringFromFile(file, SettingsArchive::LocalDate(facts.saved),
                                              keepsSn ? facts.serialNumber : "");
    if (starting)
        starting(outcome.status);
    if (log)
        log->LogMessage(1, "KeloBSL Host", "%s", outcome.status.c_str());

    const Result restored = instrument.QPRestoreInfo(file.c_str(), nullptr);
    if (restored == result::kSettingsIncomplete)
        outcome.missingKeys = instrument.MissingKeys();
    if (restored < 0)
        outcome.notRestored = instrument.NotRestoredNames();
    return Stop(instrument, outcome, RestoreStep::Restore, restored);
}
