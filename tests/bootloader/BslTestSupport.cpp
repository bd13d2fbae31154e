#include "BslTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestPlatform.h"

TempDir::TempDir() : path_(MakeTempFolder()) {}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const
{
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Frame(char command, const std::string& payload)
{
    std::string frame = std::string(1, command) + payload + ".";
    long sum = 0;
    for (char c : frame)
        sum += static_cast<signed char>(c);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04lX", ((sum % 65535) + 65535) % 65535);
    return frame + digits + "\r";
}

std::string WordFrame(char command, const std::vector<uint32_t>& words)
{
    std::string payload;
    char digits[8];
    for (uint32_t w : words) {
        std::snprintf(digits, sizeof digits, "%04X", w);
        payload += digits;
    }
    return Frame(command, payload);
}

bool DecodeImage(const char* text, uint32_t length, std::vector<uint8_t>* memory)
{
    memory->assign(0x10000, 0xFF);
    uint32_t address = 0;
    bool haveAddress = false;
    for (uint32_t i = 0; i < length;) {
        if (text[i] == '@') {
            if (i + 5 > length)
                return false;
            address = std::stoul(std::string(text + i + 1, 4), nullptr, 16);
            haveAddress = true;
            i += 5;
            continue;
        }
        if (!haveAddress || i + 4 > length || address + 1 > 0xFFFF)
            return false;
        uint32_t word = std::stoul(std::string(text + i, 4), nullptr, 16);
        (*memory)[address] = static_cast<uint8_t>(word & 0xFF);
        (*memory)[address + 1] = static_cast<uint8_t>(word >> 8);
        address += 2;
        i += 4;
    }
    return true;
}

std::shared_ptr<const FirmwareImage> LoadImage(const std::string& path, KeloLog* log)
{
    std::shared_ptr<const FirmwareImage> image;
    EXPECT_EQ(FirmwareImage::Load(path.c_str(), log, &image), 1) << path;
    return image;
}
