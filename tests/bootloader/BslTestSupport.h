// Shared bits of the bootloader host tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FirmwareImage.h"

// A scratch folder removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);

// The complete frame for a command, computed here independently.
std::string Frame(char command, const std::string& payload);
std::string WordFrame(char command, const std::vector<uint32_t>& words);

// Decodes compact image text into a 64 KiB memory (0xFF elsewhere); false on
// malformed text.
bool DecodeImage(const char* text, uint32_t length, std::vector<uint8_t>* memory);

// A firmware file written to `path` and loaded; fails the test when it does not load.
std::shared_ptr<const FirmwareImage> LoadImage(const std::string& path, KeloLog* log = nullptr);
