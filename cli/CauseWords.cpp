#include "CauseWords.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "InputFile.h"
#include "TITextReader.h"

#if !defined(_WIN32)
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

std::string PortPath(const std::string& port)
{
#if defined(_WIN32)
    return port;
#else
    return !port.empty() && port[0] != '/' ? "/dev/" + port : port;
#endif
}

std::string PortGroup(const std::string& path)
{
#if !defined(_WIN32)
    // Only a group the port lets read and write is worth joining; root's is not.
    struct stat st {};
    const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
    if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & groupReadWrite) == groupReadWrite) {
        // The ports of a several-port run ask this on their own threads:
        // getgrgid's shared record would be overwritten under them.
        long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
        struct group entry {};
        struct group* found = nullptr;
        int error;
        while ((error = ::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
               buffer.size() < (1u << 20))
            buffer.resize(buffer.size() * 2);
        if (error == 0 && found)
            return found->gr_name;
    }
#else
    (void)path;
#endif
    return "dialout";
}

std::string PortProblem(int code, const std::string& port)
{
    const std::string path = PortPath(port);
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

std::string BuildPlatform()
{
#if defined(_WIN32)
    std::string system = "Windows";
#elif defined(__APPLE__)
    std::string system = "macOS";
#elif defined(__linux__)
    std::string system = "Linux";
#else
    std::string system = "POSIX";
#endif
#if defined(__x86_64__) || defined(_M_X64)
    return system + " x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return system + " arm64";
#elif defined(__i386__) || defined(_M_IX86)
    return system + " x86";
#else
    return system;
#endif
}
