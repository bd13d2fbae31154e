#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>  // a file size limit stands for a full disk
#endif

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

int FilesIn(const fs::path& folder)
{
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
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
    // Each copy went through a temporary file: none is left.
    EXPECT_EQ(FilesIn(dir / "archive" / "JT5 Pro"), 4);

    std::string error;
    std::string moved = archive.MoveIn(file, "JT5-2", when, &error);
    EXPECT_FALSE(moved.empty()) << error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(SettingsArchive::ReadFacts(file).exists);
    fs::remove_all(dir);
}

// Two instruments with one serial number saved in the same second from two
// threads: each save gets a file of its own, none is overwritten.
TEST(SettingsArchive, SavesOfTheSameSecondFromSeveralThreadsNeverShareAFile)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("kelo-archive-threads-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const SettingsArchive archive(dir.string(), "JT5 Pro");
    constexpr int kThreads = 8;
    std::vector<std::string> added(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        const std::string file = (dir / ("port" + std::to_string(i) + ".settings.txt")).string();
        std::ofstream(file, std::ios::binary) << "port " << i << "\r\nsn=\"JT5-1\"\r\n";
        threads.emplace_back([&, i, file] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
                std::this_thread::yield();
            std::string error;
            added[static_cast<std::size_t>(i)] = archive.Add(file, "JT5-1", 1765185300, &error);
        });
    }
    for (std::thread& t : threads)
        t.join();
    std::set<std::string> distinct(added.begin(), added.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads));
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(Read(added[static_cast<std::size_t>(i)]).substr(0, 7), "port " + std::to_string(i) + "\r");
    fs::remove_all(dir);
}

#ifndef _WIN32
// A copy that cannot be written (here the file size limit, as a full disk
// does) leaves no empty or partial file behind and says why in words; one
// full folder once collected 999 empty copies.
TEST(SettingsArchive, AFailedCopyLeavesNothingBehind)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("kelo-archive-full-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "archive" / "R7F");
    const std::string file = (dir / "R7F.settings.txt").string();
    std::ofstream(file, std::ios::binary) << "sn=\"R-1\"\r\n" << std::string(400, 'x') << "\r\n";
    const SettingsArchive archive(dir.string(), "R7F");

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const std::string added = archive.MoveIn(file, "R-1", 1765185300, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(added, "");
    EXPECT_NE(error.find("cannot write the archive copy"), std::string::npos) << error;
    EXPECT_NE(error.find("larger than this system lets the program write"), std::string::npos) << error;
    EXPECT_EQ(FilesIn(dir / "archive" / "R7F"), 0);
    EXPECT_TRUE(fs::exists(file));  // the original stays when its copy failed
    fs::remove_all(dir);
}
#endif
