// A run's firmware files: one per device type, the newest of a folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "DeviceTypes.h"
#include "FirmwareSet.h"

namespace fs = std::filesystem;

TEST(FirmwareSet, TakesTheNewestOfEachTypeFromAFolderAndRefusesASecondFileForAType)
{
    const fs::path dir = fs::temp_directory_path() / ("fwset-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {"R7F-3-51.txt", "R7F-3-6.txt", "R7F-3-52.txt", "R7F-3.99.txt", "JV-3-90.txt",
                             "notes.txt", "QX70-2-10.hex"})
        std::ofstream(dir / name) << "q\n";

    FirmwareSet set;
    std::string error;
    ASSERT_TRUE(set.AddFolder(dir.string(), &error)) << error;
    const int r7f = DeviceTypeFromWord("R7F");
    ASSERT_NE(set.For(r7f), nullptr);
    EXPECT_EQ(fs::path(*set.For(r7f)).filename(), "R7F-3-6.txt");  // 3.60: a missing digit counts 0
    ASSERT_NE(set.For(DeviceTypeFromWord("JV")), nullptr);
    EXPECT_EQ(set.For(DeviceTypeFromWord("QX70")), nullptr);
    EXPECT_EQ(set.Files().size(), 2u);

    EXPECT_FALSE(set.Add("/elsewhere/R7F-3-53.txt", &error));
    EXPECT_NE(error.find("two firmware files for the " + std::string(DeviceTypeName(r7f))), std::string::npos) << error;
    EXPECT_FALSE(set.Add("/elsewhere/firmware.txt", &error));
    EXPECT_NE(error.find("names no device type"), std::string::npos) << error;

    FirmwareSet none;
    EXPECT_FALSE(none.AddFolder((dir / "missing").string(), &error));
    EXPECT_NE(error.find("cannot read the firmware folder"), std::string::npos) << error;
    fs::remove_all(dir);
}
