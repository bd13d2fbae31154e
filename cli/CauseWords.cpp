#include "CauseWords.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "InputFile.h"
#include "PortPath.h"
#include "TITextReader.h"

namespace {

std::string WithCode(const char* words, int code)
{
    return std::string(words) + " (" + std::to_string(code) + ")";
}

// The system's own number is said as such: a bare negative number would read
// as one of the program's results.
std::string WithSystemError(const std::string& words, int systemError)
{
    return words + " (error " + std::to_string(systemError) + ")";
}

}  // namespace

std::string FileCause(int systemError)
{
    switch (systemError) {
    case ENOENT: return WithSystemError("no such file", systemError);
    case EACCES:
    case EPERM: return WithSystemError("permission denied", systemError);
    case EISDIR: return WithSystemError("is a folder", systemError);
    case ENOTDIR: return WithSystemError("a part of the path is not a folder", systemError);
    case EFBIG: return WithSystemError("the file is too large", systemError);
    case EROFS: return WithSystemError("read-only file system", systemError);
    case ENOSPC: return WithSystemError("no space left on the disk", systemError);
    default: return WithSystemError("system error", systemError);
    }
}

std::string FirmwareFileProblem(int code, const std::string& path)
{
    if (code == result::kFirmwareUnreadable) {
        // Folders, pipes, devices and oversized files were refused unread:
        // ask the file again for its reason, which says it in words.
        InputFile probe;
        const InputFileStatus problem = probe.Open(path.c_str(), InputFileKind::Firmware);
        if (problem != InputFileStatus::Ok)
            return WithCode(InputFileProblem(problem, InputFileKind::Firmware), code);
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return WithCode("is a folder", code);  // a folder opens on POSIX and reads as a huge file
    if (code != result::kNotFirmware)
        return LineCause(code);
    // Read it again to find where it went wrong: the loader only says that it did.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return WithCode("not a valid TI-Text firmware file", code);
    long length = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    std::rewind(file);
    std::string why = "not a valid TI-Text firmware file";
    if (length >= 0 && length <= 0x7FFFFFF) {
        const uint32_t size = static_cast<uint32_t>(length);
        std::vector<char> image(TITextReader::CapacityFor(size) + 1);
        uint32_t vectors[TITextReader::kVectorCount];
        TITextReader reader(image.data(), static_cast<uint32_t>(image.size()), vectors);
        if (!reader.Read(file, size))
            why += ": line " + std::to_string(reader.ProblemLine()) + ": expected " + reader.Problem();
    }
    std::fclose(file);
    return WithCode(why.c_str(), code);
}

std::string PortProblem(int code, const std::string& port)
{
    const std::string path = PortPathForPeople(port);
    switch (code) {
    case result::kNoSuchPort:
        return "no port " + path + " (" + std::to_string(code) + ").\n" +
               "See the ports of this computer with: kelobsl-cli list-ports";
    case result::kPortInUse:
        return "the port " + path + " is in use by another program (" + std::to_string(code) + ").\n" +
               "Close that program, or choose another port.";
    case result::kNoPermission: {
        const std::string group = PortGroup(path);
        return "the port " + path + " exists, but this user may not open it: permission denied (" +
               std::to_string(code) + ").\n" + "Join the group that owns it (" + group + "): sudo usermod -aG " +
               group + " $USER\n" + "then log out and in again.";
    }
    default:
        return {};
    }
}
