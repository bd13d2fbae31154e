#include "FirmwareImage.h"

#include <cstdio>

#include "FirmwareIdentity.h"

namespace {

constexpr uint32_t kBootloaderStart = 0xFA00;
constexpr uint32_t kHighStart = 0xFE00;
constexpr uint32_t kVectorStart = 0xFFE0;
constexpr uint32_t kProgramStart = 0x1100;

// Deterministic filler, so that the same layout always gives the same image.
uint32_t Seed(const std::string& text)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    return h ? h : 1;
}

uint8_t NextByte(uint32_t* state)
{
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return static_cast<uint8_t>(x >> 11);
}

}  // namespace

bool FirmwareImage::Build(const FirmwareLayout& layout, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (layout.highBytes % 2 || layout.highBytes > kVectorStart - kHighStart)
        return fail("the record at 0xFE00 must be an even number of bytes, at most 480");
    uint32_t mainBytes = layout.mainBytes;
    if (!mainBytes) {
        // Compact text: 5 characters per record address, 4 per word.
        uint32_t records = layout.highBytes ? 2 : 1;
        if (layout.imageChars < 5 * records || (layout.imageChars - 5 * records) % 4)
            return fail("that image length cannot be made: it must be 4 n + 5 per record");
        uint32_t words = (layout.imageChars - 5 * records) / 4;
        if (words * 2 <= layout.highBytes)
            return fail("image length too small");
        mainBytes = words * 2 - layout.highBytes;
    }
    const uint32_t header = layout.noHeader ? 0 : FirmwareIdentity::kHeaderSize;
    if (layout.start % 2 || layout.start < kProgramStart || mainBytes < header + 2 || mainBytes % 2 ||
        layout.start + mainBytes > kBootloaderStart)
        return fail("the main record does not fit between 0x1100 and 0xF9FF");
    const std::string versionLine = layout.type + " " + layout.version;
    if (versionLine.size() > FirmwareIdentity::kVersionLineSize)
        return fail("version line longer than 20 characters");

    bytes_.assign(0x10000, 0xFF);
    ranges_.clear();
    uint32_t state = Seed(versionLine);
    for (uint32_t i = header; i < mainBytes; ++i)
        bytes_[layout.start + i] = NextByte(&state);
    for (uint32_t i = 0; i < layout.highBytes; ++i)
        bytes_[kHighStart + i] = NextByte(&state);
    if (!layout.noHeader)
        FirmwareIdentity::WriteHeader(bytes_.data(), layout.start, versionLine,
                                      static_cast<uint16_t>(mainBytes - header));
    if (layout.badCrc)
        bytes_[layout.start + mainBytes - 1] ^= 0x5A;

    // Every vector leads into the program; reset starts at the header.
    const uint32_t handler = layout.start + header;
    for (uint32_t v = kVectorStart; v < 0x10000; v += 2) {
        uint32_t target = v == FirmwareIdentity::kResetVector ? layout.start : handler;
        bytes_[v] = static_cast<uint8_t>(target & 0xFF);
        bytes_[v + 1] = static_cast<uint8_t>(target >> 8);
    }

    ranges_.push_back({layout.start, mainBytes});
    if (layout.highBytes)
        ranges_.push_back({kHighStart, layout.highBytes});
    ranges_.push_back({kVectorStart, 0x10000 - kVectorStart});
    return true;
}

std::string FirmwareImage::TIText() const
{
    std::string text;
    char piece[8];
    for (const Range& range : ranges_) {
        std::snprintf(piece, sizeof piece, "@%04X\n", static_cast<unsigned>(range.start));
        text += piece;
        for (uint32_t i = 0; i < range.size; ++i) {
            std::snprintf(piece, sizeof piece, "%02X", bytes_[range.start + i]);
            text += piece;
            text += (i % 16 == 15 || i + 1 == range.size) ? '\n' : ' ';
        }
    }
    text += "q\n";
    return text;
}
