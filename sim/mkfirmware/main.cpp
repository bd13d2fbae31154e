// mkfirmware: writes a TI-Text firmware image that the simulated devices can
// boot (identity header + CRC), of any model, version and size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FirmwareImage.h"

namespace {

void Usage()
{
    std::puts(
        "mkfirmware: write a TI-Text firmware image for the simulated devices\n"
        "\n"
        "usage: mkfirmware [options] -o FILE\n"
        "  --type WORD         model word in the version line; default R7F\n"
        "  --version X.YZ      version in the version line; default 3.51\n"
        "                      (--version last, without X.YZ: show mkfirmware's own version)\n"
        "  --image-chars N     characters of compact image text (records + 4 per word);\n"
        "                      default 56334\n"
        "  --bytes N           bytes of the main record instead (header included)\n"
        "  --start ADDR        address of the main record and its header; default 0x7200\n"
        "  --high-bytes N      bytes of the record at 0xFE00 (0: none); default 32\n"
        "  --bad-crc           spoil the body after the CRC is made\n"
        "  --no-header         no identity header (a firmware the devices cannot boot)\n"
        "  --bin FILE          also write the 64 KiB memory image (0xFF where unused)\n"
        "  -o FILE             the TI-Text file to write");
}

bool Number(const char* text, uint32_t* out)
{
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 0);
    if (!end || *end || v > 0xFFFFFF)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool WriteFile(const std::string& path, const void* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "mkfirmware: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    FirmwareLayout layout;
    std::string output;
    std::string binary;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t n = 0;
        auto needNumber = [&]() {
            if (!value || !Number(value, &n)) {
                std::fprintf(stderr, "mkfirmware: %s needs a number\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        auto needText = [&]() -> std::string {
            if (!value) {
                std::fprintf(stderr, "mkfirmware: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            ++i;
            return value;
        };
        if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (arg == "--type") {
            layout.type = needText();
        } else if (arg == "--version") {
            if (!value) {
                std::printf("mkfirmware %s\n", KELO_VERSION);
                return 0;
            }
            layout.version = needText();
        } else if (arg == "--image-chars") {
            needNumber();
            layout.imageChars = n;
        } else if (arg == "--bytes") {
            needNumber();
            layout.mainBytes = n;
        } else if (arg == "--start") {
            needNumber();
            layout.start = static_cast<uint16_t>(n);
            if (n > 0xFFFF) {
                std::fprintf(stderr, "mkfirmware: --start above 0xFFFF\n");
                return 2;
            }
        } else if (arg == "--high-bytes") {
            needNumber();
            layout.highBytes = n;
        } else if (arg == "--bad-crc") {
            layout.badCrc = true;
        } else if (arg == "--no-header") {
            layout.noHeader = true;
        } else if (arg == "--bin") {
            binary = needText();
        } else if (arg == "-o") {
            output = needText();
        } else {
            std::fprintf(stderr, "mkfirmware: unknown option '%s' (try --help)\n", arg.c_str());
            return 2;
        }
    }
    if (output.empty()) {
        Usage();
        return 2;
    }
    FirmwareImage image;
    std::string error;
    if (!image.Build(layout, &error)) {
        std::fprintf(stderr, "mkfirmware: %s\n", error.c_str());
        return 1;
    }
    std::string text = image.TIText();
    if (!WriteFile(output, text.data(), text.size()))
        return 1;
    if (!binary.empty() && !WriteFile(binary, image.Bytes().data(), image.Bytes().size()))
        return 1;
    return 0;
}
