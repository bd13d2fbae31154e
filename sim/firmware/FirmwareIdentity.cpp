#include "FirmwareIdentity.h"

#include <algorithm>
#include <cstring>

uint16_t FirmwareIdentity::Crc16(const uint8_t* data, std::size_t size)
{
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void FirmwareIdentity::WriteHeader(uint8_t* flash, uint16_t address, const std::string& versionLine,
                                   uint16_t length)
{
    uint8_t* h = flash + address;
    std::memcpy(h, "KELO", 4);
    std::memset(h + 4, 0, kVersionLineSize);
    std::memcpy(h + 4, versionLine.data(), std::min<std::size_t>(versionLine.size(), kVersionLineSize));
    h[24] = static_cast<uint8_t>(length & 0xFF);
    h[25] = static_cast<uint8_t>(length >> 8);
    uint16_t crc = Crc16(h + kHeaderSize, length);
    h[26] = static_cast<uint8_t>(crc & 0xFF);
    h[27] = static_cast<uint8_t>(crc >> 8);
}

FirmwareIdentity FirmwareIdentity::Read(const uint8_t* flash)
{
    FirmwareIdentity id;
    uint32_t address = flash[kResetVector] | (flash[kResetVector + 1] << 8);
    if (address + kHeaderSize > 0x10000 || std::memcmp(flash + address, "KELO", 4) != 0)
        return id;
    const uint8_t* h = flash + address;
    uint32_t length = h[24] | (h[25] << 8);
    if (address + kHeaderSize + length > 0x10000)
        return id;
    id.present = true;
    id.address = static_cast<uint16_t>(address);
    id.length = static_cast<uint16_t>(length);
    std::size_t n = strnlen(reinterpret_cast<const char*>(h + 4), kVersionLineSize);
    id.versionLine.assign(reinterpret_cast<const char*>(h + 4), n);
    uint16_t crc = h[26] | (h[27] << 8);
    id.good = Crc16(h + kHeaderSize, length) == crc;
    return id;
}
