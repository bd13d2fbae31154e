// TI-Text firmware files: the reader and the loading of a FirmwareImage.
// A file that loads must give image text the bootloader can take: "@AAAA"
// records and whole words of hex digits, none inside the bootloader's own
// flash or the vector table.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzFiles.h"
#include "FirmwareImage.h"

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

void CheckImage(const FirmwareImage& image)
{
    const char* text = image.Text();
    const uint32_t length = image.Length();
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
    fuzz_files::WriteFile(path, data, size);
    std::shared_ptr<const FirmwareImage> image;
    if (FirmwareImage::Load(path.c_str(), nullptr, &image) == 1)
        CheckImage(*image);
    return 0;
}
