// A logger's answers: connection and version line, the old firmware's "show"
// page, every setting read (and written back), the clock. The first byte
// chooses the link and options, the rest is what the logger says (answers
// separated as FakeLine.h describes).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FakeLine.h"
#include "FuzzLog.h"
#include "NIVRA_Protocol.h"

namespace {

template <std::size_t N>
void CheckTerminated(const char (&field)[N])
{
    if (strnlen(field, N) == N)
        std::abort();
}

void CheckInfo(const LoggerInfo& info)
{
    CheckTerminated(info.modelName);
    CheckTerminated(info.name);
    CheckTerminated(info.sn);
    CheckTerminated(info.version);
    CheckTerminated(info.rver);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    fake_line::Serve(data + 1, size - 1);

    KeloSerial port(FuzzLog());
    NIVRA_Protocol protocol(port, FuzzLog());
    ProtocolConfig config{};
    config.serialRetries = 2;
    config.radioRetries = 2;
    config.keepPortOpen = (options & 0x10) ? 1 : 0;
    protocol.Configure(&config, 1);

    ConnectParams params{};
    std::strcpy(params.port, "fuzz");
    params.linkType = (options & 0x1) ? kLinkRadio : kLinkSerial;
    params.baudIndex = static_cast<uint8_t>((options >> 1) & 0x7);
    params.radioKnown = (options & 0x20) ? 1 : 0;
    params.rch = 3;
    params.rsch = 7;
    if (options & 0x40)
        std::strcpy(params.loginName, "LOG1");

    if (protocol.ConnectDevice(&params) >= 0) {
        LoggerInfo info{};
        uint32_t mask = 0xFFFFFFFF;
        protocol.DeviceSettings(&info, &mask, 0);
        CheckInfo(protocol.Info());
        if (options & 0x80) {
            info = protocol.Info();
            mask = info.valid;
            protocol.DeviceSettings(&info, &mask, 1);
        }
        int64_t seconds = 0;
        protocol.DeviceTime(&seconds, 0);
        CheckInfo(protocol.Info());
        protocol.DisconnectDevice();
    }
    CheckInfo(protocol.Info());
    return 0;
}
