// The identity header that every firmware made by mkfirmware starts with, at
// the address its reset vector points to:
//   "KELO" | version line, NUL-padded to 20 bytes | length L | CRC-16/CCITT
// L and the CRC are little-endian 16-bit words; the CRC covers the L bytes
// that follow the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FirmwareIdentity {
public:
    static constexpr uint32_t kHeaderSize = 28;
    static constexpr uint32_t kVersionLineSize = 20;
    static constexpr uint16_t kResetVector = 0xFFFE;

    // CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF.
    static uint16_t Crc16(const uint8_t* data, std::size_t size);

    // Writes the header for the `length` bytes after it (already in place).
    static void WriteHeader(uint8_t* flash, uint16_t address, const std::string& versionLine,
                            uint16_t length);

    // Reads the header that the reset vector of the 64 KiB flash points to.
    static FirmwareIdentity Read(const uint8_t* flash);

    bool present = false;      // a header is where the reset vector points
    bool good = false;         // ... and its CRC matches
    uint16_t address = 0;
    uint16_t length = 0;
    std::string versionLine;
};
