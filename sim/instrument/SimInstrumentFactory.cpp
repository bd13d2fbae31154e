// The simulated instruments.
//
// Type words (--type, any case): R7F (Hydrova Series 3), TELSO (Hydrova Lite),
// JV (JT5 Pro), WN (Canopy Meter), MERV (Moistra IG), WN30 (Lumetra WN-30),
// NIVRA-TE. Other words are not claimed here.
//
// Faults (--fault NAME[=VALUE], repeatable):
//   bare-sn             "get -sn" answers with the bare prompt (uninitialised instrument)
//   unreadable=KEY      "get -KEY" is refused with ERROR (repeat for more keys)
//   unwritable=KEY      "set -KEY" is refused with "?" (repeat for more keys)
//   no-ok               write commands are carried out but answered without "OK"
//   corrupt-firmware    "post" and "post -init" answer "Code Corrupt!"
//   dataflash-fail      "yes" (data erase) answers "DataFlash FAIL"
//   blank-settings      the information flash starts blank, as after a firmware
//                       update that did not restore the settings
//   version-line=TEXT   "get -ver" answers TEXT instead of the firmware's line
//   battery-text=TEXT   "get -batt" answers TEXT instead of the charge
//   slow=MS             every answer starts MS ms late
//   set-fail=KEY        "set -KEY" is answered without OK and stores nothing
//   set-garble=KEY      "set -KEY" is answered OK but stores a changed value
//   frame-flip=KEY[:WHERE], frame-flip-once=KEY[:WHERE]
//                       one bit flipped in the framing of the answers to "get -KEY"
//                       (WHERE: before, after, prompt); once: the first answer only
//
// A new instrument (first start of the simulator, no --state file yet, not
// started in its bootloader) holds factory settings; a restart after a
// firmware update finds the information flash as the update left it.
#include <cctype>
#include <filesystem>

#include "SimApp.h"
#include "SimInstrumentApp.h"

namespace {

const SimInstrumentModel kModels[] = {
    {"R7F", {"adccal", "config"}, true},
    {"TELSO", {"sn", "lang", "contr", "fvals", "uvals"}, true},
    {"JV", {"sn", "contr", "units", "adc", "int"}, false},
    {"WN", {"sn", "contr", "fvals", "units", "int"}, false},
    {"MERV", {"sn", "adccal"}, false},
    {"WN30", {"sn", "contr", "units"}, false},
    {"NIVRA-TE", {}, false},
};

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::unique_ptr<SimApp> MakeInstrumentApp(SimDeviceControl& device)
{
    const SimOptions& options = device.Options();
    const std::string word = Upper(options.type);
    for (const SimInstrumentModel& model : kModels) {
        if (word != model.word)
            continue;
        if (device.TakePowerOn()) {
            auto& settings = device.Settings();
            if (options.HasFault("blank-settings")) {
                settings.clear();
                device.SettingsChanged();
            } else {
                std::error_code error;
                bool stateKept = !options.stateFile.empty() &&
                                 std::filesystem::exists(options.stateFile, error);
                if (settings.empty() && !stateKept && !options.bootloader) {
                    SimInstrumentApp::SeedSettings(model, options, &settings);
                    device.SettingsChanged();
                }
            }
        }
        return std::make_unique<SimInstrumentApp>(device, model);
    }
    return nullptr;
}
