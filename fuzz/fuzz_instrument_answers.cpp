// A device's answers through the update's own steps: connection and
// identification from the version line, privileged login, saving its
// settings to a file and writing them back from it, battery, firmware check,
// clock, data erase. Mostly instruments; a logger's version line takes the
// logger paths. The first byte sets the retries, the rest is what the device
// says (answers separated as FakeLine.h describes).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FakeLine.h"
#include "FuzzFiles.h"
#include "FuzzLog.h"
#include "Kelo_protocol.h"

namespace {

template <std::size_t N>
void CheckTerminated(const char (&field)[N])
{
    if (strnlen(field, N) == N)
        std::abort();
}

void CheckSettings(Kelo_protocol& protocol)
{
    const InstrumentInfo& ii = protocol.InstrumentSettings();
    CheckTerminated(ii.sn);
    CheckTerminated(ii.config);
    CheckTerminated(ii.fvals);
    CheckTerminated(ii.uvals);
    CheckTerminated(ii.adc);
    CheckTerminated(ii.adccal);
    CheckTerminated(protocol.Identity().versionText);
    CheckTerminated(protocol.Identity().displayName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::string path = fuzz_files::PathOf("settings.txt");
    if (size == 0)
        return 0;
    fake_line::Serve(data + 1, size - 1);

    Kelo_protocol protocol(FuzzLog());
    DeviceIdentity identity;
    const int32_t retries = 1 + data[0] % 3;
    if (protocol.QPConnect("fuzz", 2, retries, &identity) >= 0) {
        if (protocol.QPSaveInfo(path.c_str()) == 1) {
            CheckSettings(protocol);
            protocol.SetSettingsHeld(false);  // read back what was written
            protocol.QPRestoreInfo(path.c_str(), nullptr);
        }
        CheckSettings(protocol);
        int32_t percent = 0;
        protocol.QPCheckBattery(&percent);
        protocol.QPCheckFirmware(identity.postInit);
        protocol.QPSetTime();
        protocol.QPEraseData();
        protocol.QPDisconnect();
    }
    CheckSettings(protocol);
    return 0;
}
