// FirmwareImage: one firmware image, read once and only read after that: the
// compact image text the bootloader is sent, the interrupt vector table, and
// what the file's name says the image is for. Immutable, so one loaded image
// is shared by every command and every port of a run (threads included).
#pragma once

#include <cstdint>
#include <memory>

#include "InputFile.h"

class KeloLog;

class FirmwareImage {
public:
    static constexpr uint32_t kVectorCount = 16;
    static constexpr uint32_t kTargetNameSize = 33;

    // The firmware this build carries; the same object on every call.
    static std::shared_ptr<const FirmwareImage> BuiltIn();

    // Reads a TI-Text file. 1 with *image set; otherwise *image is left as it
    // was and the result is result::kFirmwareUnreadable with the input-file
    // check's reason in *problem (no such file, a folder, too large ...),
    // result::kOutOfMemory, or result::kNotFirmware for a file that is not
    // TI-Text. Logs as the bootloader host ("KeloBSL").
    static int Load(const char* path, KeloLog* log, std::shared_ptr<const FirmwareImage>* image,
                    InputFileStatus* problem = nullptr);

    // "@AAAA" records of four-digit words, NUL-terminated.
    const char* Text() const { return text_; }
    uint32_t Length() const { return length_; }
    // 0xFFE0 first.
    const uint32_t* Vectors() const { return vectors_; }
    const char* TargetName() const { return targetName_; }
    int8_t TargetType() const { return targetType_; }
    int Version() const { return version_; }
    // False when the file's name gave no version (Version() is 0).
    bool VersionKnown() const { return versionKnown_; }
    bool IsBuiltIn() const { return !owned_; }

    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

private:
    FirmwareImage() = default;

    std::unique_ptr<char[]> owned_;  // the text of a loaded file; the built-in one is a constant
    const char* text_ = "";
    uint32_t length_ = 0;
    uint32_t vectors_[kVectorCount] = {};
    char targetName_[kTargetNameSize] = {};
    int8_t targetType_ = 0;
    int version_ = 0;
    bool versionKnown_ = true;
};
