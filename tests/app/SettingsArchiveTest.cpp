#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "SettingsArchive.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

// Files are only ever added: a name already taken gets a number, the
// serial number cannot lead out of the folder, and the old file stays as it was.
TEST(SettingsArchive, AddsUnderSerialNumberAndUtcTimeAndNeverOverwrites)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("kelo-archive-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string file = (dir / "R.settings.txt").string();
    const std::time_t when = 1765185300;  // 2025-12-08 09:15:00 UTC
    const SettingsArchive archive(dir.string(), "JT5 Pro");

    const struct {
        const char* sn;
        const char* content;
        const char* name;
    } rows[] = {
        {"JT5-1", "first", "JT5-1-20251208T091500Z.settings.txt"},
        {"JT5-1", "second", "JT5-1-20251208T091500Z-2.settings.txt"},
        {"", "third", "no-sn-20251208T091500Z.settings.txt"},
        {"../x/y", "fourth", ".._x_y-20251208T091500Z.settings.txt"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.content);
        std::ofstream(file, std::ios::binary) << row.content << "\r\nsn=\"" << row.sn << "\"\r\n";
        std::string error;
        std::string added = archive.Add(file, row.sn, when, &error);
        EXPECT_EQ(added, (dir / "archive" / "JT5 Pro" / row.name).string()) << error;
        EXPECT_EQ(SettingsArchive::ReadFacts(added).serialNumber, row.sn);
    }
    EXPECT_EQ(Read((dir / "archive" / "JT5 Pro" / rows[0].name).string()).substr(0, 5), "first");

    std::string error;
    std::string moved = archive.MoveIn(file, "JT5-2", when, &error);
    EXPECT_FALSE(moved.empty()) << error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(SettingsArchive::ReadFacts(file).exists);
    fs::remove_all(dir);
}
