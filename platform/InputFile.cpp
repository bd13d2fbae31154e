#include "InputFile.h"

#include <cerrno>

namespace {

struct Reason {
    InputFileStatus status;
    int errorNumber;
    const char* text;
};

// Too large has two wordings; the table holds the firmware one.
constexpr Reason kReasons[] = {
    {InputFileStatus::NotFound, ENOENT, "was not found"},
    {InputFileStatus::NoAccess, EACCES, "cannot be read: permission denied"},
    {InputFileStatus::IsFolder, EISDIR, "is a folder, not a file"},
    {InputFileStatus::NotRegular, ENODEV, "is not a regular file (a device or a pipe)"},
    {InputFileStatus::TooLarge, EFBIG, "is too large for a firmware file"},
    {InputFileStatus::Unreadable, EIO, "could not be read"},
};

}  // namespace

InputFile::~InputFile()
{
    if (file_)
        std::fclose(file_);
}

uint64_t InputFile::MaxBytes(InputFileKind kind)
{
    return kind == InputFileKind::Firmware ? kMaxFirmwareBytes : kMaxSettingsBytes;
}

const char* InputFileProblem(InputFileStatus status, InputFileKind kind)
{
    if (status == InputFileStatus::TooLarge && kind == InputFileKind::Settings)
        return "is too large for a settings file";
    for (const Reason& reason : kReasons)
        if (reason.status == status)
            return reason.text;
    return "is fine";
}

int InputFileCode(InputFileStatus status)
{
    for (const Reason& reason : kReasons)
        if (reason.status == status)
            return -reason.errorNumber;
    return 0;
}

InputFileStatus InputFileStatusFromCode(int code)
{
    for (const Reason& reason : kReasons)
        if (-reason.errorNumber == code)
            return reason.status;
    return InputFileStatus::Ok;
}
