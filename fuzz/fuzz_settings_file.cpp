// Settings files: the reader of every device type and its value scanners.
// The first byte picks the device type, the rest is the file. Every text
// field read must stay terminated inside its own size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzFiles.h"
#include "Kelo_protocol.h"

namespace {

template <std::size_t N>
void CheckTerminated(const char (&field)[N])
{
    if (strnlen(field, N) == N)
        std::abort();
}

void CheckRecords(Kelo_protocol& protocol)
{
    const LoggerInfo& li = protocol.LoggerSettings();
    CheckTerminated(li.name);
    CheckTerminated(li.sn);
    CheckTerminated(li.modelName);
    CheckTerminated(li.version);
    CheckTerminated(li.rver);
    const InstrumentInfo& ii = protocol.InstrumentSettings();
    CheckTerminated(ii.sn);
    CheckTerminated(ii.config);
    CheckTerminated(ii.fvals);
    CheckTerminated(ii.uvals);
    CheckTerminated(ii.adc);
    CheckTerminated(ii.adccal);
}

// The scanners on their own, with a key and a destination size taken from
// the input: "key\nsize-byte text".
void ScanValues(const uint8_t* data, std::size_t size, const char* text)
{
    const void* newline = std::memchr(data, '\n', size);
    if (!newline)
        return;
    std::string key(reinterpret_cast<const char*>(data),
                    static_cast<const uint8_t*>(newline) - data);
    char value[256];
    std::size_t n = size > key.size() + 1 ? data[key.size() + 1] % sizeof value : 0;
    Kelo_protocol::GetTextValue(text, key.c_str(), value, n);
    if (n && strnlen(value, n) == n)
        std::abort();
    int32_t number = 0;
    Kelo_protocol::GetNumberValue(text, key.c_str(), &number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::string path = fuzz_files::PathOf("settings.txt");
    static Kelo_protocol protocol(nullptr);
    if (size == 0)
        return 0;
    protocol.ClearSettings();
    protocol.SetDeviceType(static_cast<int8_t>(data[0] % kDeviceTypeCount));
    fuzz_files::WriteFile(path, data + 1, size - 1);
    protocol.ReadInfoFile(path.c_str());
    CheckRecords(protocol);

    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    ScanValues(data + 1, size - 1, text.c_str());
    return 0;
}
