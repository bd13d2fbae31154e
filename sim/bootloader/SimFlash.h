// SimFlash: the 64 KiB address space of a simulated device's flash. Main
// flash is erased in 512-byte segments aligned to 512 (the first one starts at
// 0x1100), the information flash 0x1000-0x10FF in 128-byte segments.
// Programming only clears bits, so a byte takes any value that keeps its 0
// bits (writing the value it holds changes nothing); a 1 needs an erase. The
// bootloader's own area 0xFA00-0xFDFF is never erased or written.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class SimFlash {
public:
    static constexpr uint32_t kSize = 0x10000;
    static constexpr uint32_t kFlashStart = 0x1000;
    static constexpr uint32_t kMainStart = 0x1100;
    static constexpr uint32_t kBootloaderStart = 0xFA00;
    static constexpr uint32_t kBootloaderEnd = 0xFE00;  // exclusive
    static constexpr uint32_t kTopSegment = 0xFE00;

    SimFlash();

    const uint8_t* Data() const { return bytes_.data(); }
    // Replaces the whole content (a loaded state or a built image).
    void Load(const std::vector<uint8_t>& bytes);

    // The segment holding address: false below the flash.
    static bool Segment(uint32_t address, uint32_t* start, uint32_t* size);
    static bool InBootloaderArea(uint32_t address, uint32_t count);

    // False when the address is not in flash or in the bootloader area.
    bool EraseSegment(uint32_t address);
    // False (and nothing written) when any byte is outside the flash, in the
    // bootloader area, or would need a 0 bit to become 1 (unerased flash).
    bool Write(uint32_t address, const uint8_t* bytes, uint32_t count);

    // Told of every erase: start and size of the segment.
    std::function<void(uint32_t start, uint32_t size)> onErase;

private:
    std::vector<uint8_t> bytes_;
};
