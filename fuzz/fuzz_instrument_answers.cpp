// An instrument's answers through the update's own steps: connection and
// identification from the version line, privileged login, the settings of
// its save mask, battery, firmware check, data erase. The first byte sets
// the retries, the rest is what the instrument says (answers separated as
// FakeLine.h describes).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FakeLine.h"
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
    if (size == 0)
        return 0;
    fake_line::Serve(data + 1, size - 1);

    Kelo_protocol protocol(FuzzLog());
    DeviceIdentity identity;
    const int32_t retries = 1 + data[0] % 3;
    if (protocol.QPConnect("fuzz", 2, retries, &identity) >= 0) {
        protocol.GetInstInfo(Kelo_protocol::SaveMaskOfType(protocol.DeviceType()));
        CheckSettings(protocol);
        int32_t percent = 0;
        protocol.QPCheckBattery(&percent);
        protocol.QPCheckFirmware(identity.postInit);
        protocol.QPEraseData();
        protocol.QPDisconnect();
    }
    CheckSettings(protocol);
    return 0;
}
