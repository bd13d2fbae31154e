// POSIX only: pipes and pseudo-terminals stand for what is not a file.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "InputFile.h"

namespace {

std::string Scratch(const std::string& name)
{
    return std::string(::testing::TempDir()) + "inputfile-" + std::to_string(::getpid()) + "-" + name;
}

// A sparse file of the given size: costs no disk space.
std::string SizedFile(const std::string& name, off_t size)
{
    std::string path = Scratch(name);
    std::ofstream(path) << "@";
    EXPECT_EQ(::truncate(path.c_str(), size), 0);
    return path;
}

// A character device of the test's own: the far end of a new pseudo-terminal.
std::string OwnDevice(int* master)
{
    *master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0 || ::grantpt(*master) != 0 || ::unlockpt(*master) != 0)
        return "";
    return ::ptsname(*master);
}

}  // namespace

TEST(InputFile, RefusesWhatIsNotAPlausibleFileBeforeReadingIt)
{
    const std::string folder = Scratch("folder");
    ::mkdir(folder.c_str(), 0700);
    const std::string fifo = Scratch("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: an open without care would block
    int master = -1;
    const std::string device = OwnDevice(&master);
    ASSERT_FALSE(device.empty());

    const off_t firmwareMax = static_cast<off_t>(InputFile::kMaxFirmwareBytes);
    const off_t settingsMax = static_cast<off_t>(InputFile::kMaxSettingsBytes);
    struct Case {
        std::string path;
        InputFileKind kind;
        InputFileStatus expected;
        const char* words;
    } cases[] = {
        {SizedFile("small", 20), InputFileKind::Firmware, InputFileStatus::Ok, nullptr},
        {SizedFile("fw-max", firmwareMax), InputFileKind::Firmware, InputFileStatus::Ok, nullptr},
        {SizedFile("fw-big", firmwareMax + 1), InputFileKind::Firmware, InputFileStatus::TooLarge,
         "is too large for a firmware file"},
        {SizedFile("set-big", settingsMax + 1), InputFileKind::Settings, InputFileStatus::TooLarge,
         "is too large for a settings file"},
        {Scratch("missing"), InputFileKind::Firmware, InputFileStatus::NotFound, "was not found"},
        {folder, InputFileKind::Settings, InputFileStatus::IsFolder, "is a folder"},
        {fifo, InputFileKind::Firmware, InputFileStatus::NotRegular, "not a regular file"},
        {device, InputFileKind::Firmware, InputFileStatus::NotRegular, "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        InputFile file;
        EXPECT_EQ(file.Open(c.path.c_str(), c.kind), c.expected);
        EXPECT_EQ(file.File() != nullptr, c.expected == InputFileStatus::Ok);
        if (c.words) {
            EXPECT_NE(std::string(InputFileProblem(c.expected, c.kind)).find(c.words), std::string::npos);
            // Front ends get a code back and must find the same reason in it.
            EXPECT_LT(InputFileCode(c.expected), 0);
            EXPECT_EQ(InputFileStatusFromCode(InputFileCode(c.expected)), c.expected);
        }
    }
    ::close(master);
    for (const Case& c : cases)
        if (c.path != device)
            std::remove(c.path.c_str());
}
#endif
