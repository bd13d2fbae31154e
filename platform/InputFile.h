// InputFile: opens a file that the updater is given to read (a firmware image,
// a settings file) only when it is an ordinary file of a size such a file can
// have. A folder, a pipe or a device (/dev/zero, COM1) is refused with a reason
// in words before a byte is read, and a pipe never blocks the open.
#pragma once

#include <cstdint>
#include <cstdio>

enum class InputFileStatus { Ok, NotFound, NoAccess, IsFolder, NotRegular, TooLarge, Unreadable };

// What the file is meant to be: decides the size limit and the wording.
enum class InputFileKind { Firmware, Settings };

class InputFile {
public:
    // A whole 64 KiB flash written one byte per line, each with its own
    // address line, takes 11 characters a byte (704 KiB): no valid firmware
    // file needs more than 1 MiB.
    static constexpr uint64_t kMaxFirmwareBytes = 1024 * 1024;
    // A settings file holds a few dozen short lines (about 1 KiB).
    static constexpr uint64_t kMaxSettingsBytes = 64 * 1024;

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // On Ok, File() is open for binary reading at its start and Size() is
    // its length in bytes.
    InputFileStatus Open(const char* path, InputFileKind kind);
    std::FILE* File() const { return file_; }
    uint64_t Size() const { return size_; }

    static uint64_t MaxBytes(InputFileKind kind);

private:
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

// The reason in words, to follow the file's name: "is a folder", "was not
// found", "is too large for a firmware file".
const char* InputFileProblem(InputFileStatus status, InputFileKind kind);

// Result codes of the readers: the negated C error number that the reason
// stands for (-ENOENT, -EACCES, -EISDIR, -ENODEV, -EFBIG, -EIO); 0 for Ok.
int InputFileCode(InputFileStatus status);
// The reverse, for front ends that get such a code back; Ok when the code is
// none of these.
InputFileStatus InputFileStatusFromCode(int code);
