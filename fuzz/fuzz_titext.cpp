// TI-Text firmware files: the reader and the host's loading of the image.
// A file that loads must give image text the bootloader can take: "@AAAA"
// records and whole words of hex digits, none inside the bootloader's own
// flash or the vector table.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzFiles.h"
#include "KeloBSLHost.h"

namespace {

bool HexDigits(const char* text, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

unsigned HexValue(const char* text)
{
    char digits[5] = {text[0], text[1], text[2], text[3], '\0'};
    return static_cast<unsigned>(std::strtoul(digits, nullptr, 16));
}

// Every data word goes to program flash: below the bootloader, or between
// it and the vector table.
bool ProgramFlash(unsigned address)
{
    return address + 1 < 0xFA00 || (address > 0xFDFF && address < 0xFFE0);
}

void CheckImage(const KeloBSLHost& host)
{
    const char* text = host.ImageText();
    const uint32_t length = host.ImageLength();
    if (!text || std::strlen(text) != length)
        std::abort();
    unsigned address = 0;
    bool inRecord = false;
    for (uint32_t i = 0; i < length;) {
        if (text[i] == '@') {
            if (length - i < 5 || !HexDigits(text + i + 1, 4))
                std::abort();
            address = HexValue(text + i + 1);
            inRecord = true;
            i += 5;
            continue;
        }
        if (!inRecord || length - i < 4 || !HexDigits(text + i, 4) || !ProgramFlash(address))
            std::abort();
        address += 2;
        i += 4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::string path = fuzz_files::PathOf("R7F-3-52.txt");
    static KeloBSLHost host(nullptr);  // kept: each load replaces the last image
    fuzz_files::WriteFile(path, data, size);
    if (host.BSLLoadTIFile(path.c_str()) == 1)
        CheckImage(host);
    return 0;
}
