// FirmwareImage: the memory image of a firmware that the simulated devices can
// boot, made the same way for mkfirmware's TI-Text files and for the flash a
// simulated device starts with. Layout: a main record at `start` (identity
// header + body), an optional record at 0xFE00, and the 16 vectors with the
// reset vector pointing at the header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FirmwareLayout {
    std::string type = "R7F";
    std::string version = "3.51";
    uint16_t start = 0x7200;
    uint32_t mainBytes = 0;        // 0: derived from imageChars
    uint32_t imageChars = 56334;   // characters of compact image text (records + 4 per word)
    uint32_t highBytes = 32;       // bytes of the record at 0xFE00 (0: none)
    bool badCrc = false;           // spoil one body byte after the CRC is made
    bool noHeader = false;         // a body without identity header
};

class FirmwareImage {
public:
    struct Range {
        uint32_t start;
        uint32_t size;
    };

    // False with a reason when the requested layout cannot be made.
    bool Build(const FirmwareLayout& layout, std::string* error);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }  // 64 KiB, 0xFF where unused
    const std::vector<Range>& Ranges() const { return ranges_; }  // in address order, vectors last
    // The TI-Text form: "@AAAA" lines, 16 bytes a line, "q".
    std::string TIText() const;

private:
    std::vector<uint8_t> bytes_;
    std::vector<Range> ranges_;
};
