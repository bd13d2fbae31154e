// Identity texts: an instrument's version line, a firmware file's name, the
// model words of both tables, logger names and serial numbers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FirmwareTarget.h"
#include "Kelo_protocol.h"
#include "LoggerRecords.h"
#include "NIVRA_Protocol.h"

namespace {

void CheckIdentity(int32_t result, const DeviceIdentity& identity)
{
    if (strnlen(identity.versionText, kVersionTextSize) == kVersionTextSize ||
        strnlen(identity.displayName, kDisplayNameSize) == kDisplayNameSize)
        std::abort();
    if (result == 1 && (identity.type <= 0 || identity.type >= kDeviceTypeCount))
        std::abort();
    if (result != 1 && (identity.type != 0 || identity.supported))
        std::abort();
}

void CheckTarget(const FirmwareTarget& target)
{
    if (strnlen(target.name, FirmwareTarget::kNameSize) == FirmwareTarget::kNameSize)
        std::abort();
    if (target.type < 0 || target.type >= kDeviceTypeCount || target.version < 0 || target.version > 999)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* line = text.c_str();

    DeviceIdentity identity;
    CheckIdentity(Kelo_protocol::IdentifyDevice(line, &identity), identity);
    CheckTarget(FirmwareTarget::FromPath(line));

    const int type = DeviceTypeFromWord(line);
    if (type < 0 || type >= kDeviceTypeCount)
        std::abort();
    DeviceTypeSupports(type, identity.versionNumber);
    LoggerModelName(LoggerModelFromWord(line));
    NIVRA_Protocol::CheckDeviceName(line);
    Kelo_protocol::CheckNewSerialNumber(line);
    return 0;
}
