#include "SimFlash.h"

#include <algorithm>

SimFlash::SimFlash() : bytes_(kSize, 0xFF) {}

void SimFlash::Load(const std::vector<uint8_t>& bytes)
{
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), kSize), bytes_.begin());
}

bool SimFlash::Segment(uint32_t address, uint32_t* start, uint32_t* size)
{
    if (address < kFlashStart || address >= kSize)
        return false;
    if (address < kMainStart) {
        *start = address & ~0x7Fu;
        *size = 0x80;
    } else {
        *start = std::max(address & ~0x1FFu, kMainStart);
        *size = (*start | 0x1FF) + 1 - *start;
    }
    return true;
}

bool SimFlash::InBootloaderArea(uint32_t address, uint32_t count)
{
    return address < kBootloaderEnd && address + count > kBootloaderStart;
}

bool SimFlash::EraseSegment(uint32_t address)
{
    uint32_t start = 0;
    uint32_t size = 0;
    if (!Segment(address, &start, &size) || InBootloaderArea(start, size))
        return false;
    std::fill_n(bytes_.begin() + start, size, 0xFF);
    if (onErase)
        onErase(start, size);
    return true;
}

bool SimFlash::Write(uint32_t address, const uint8_t* bytes, uint32_t count)
{
    if (address < kFlashStart || address + count > kSize || InBootloaderArea(address, count))
        return false;
    for (uint32_t i = 0; i < count; ++i)
        if ((bytes_[address + i] & bytes[i]) != bytes[i])
            return false;
    for (uint32_t i = 0; i < count; ++i)
        bytes_[address + i] &= bytes[i];
    return true;
}
