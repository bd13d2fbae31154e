// Unfinished updates: the record beside a pending settings file, which files
// are a device type's, whose settings a device in its loader gets, and the
// lock that keeps two updates off one file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "FileLock.h"
#include "UnfinishedUpdates.h"

namespace fs = std::filesystem;

namespace {

UnfinishedUpdate Saved(const std::string& port, const std::string& resolved, bool link, bool severalPorts,
                       bool recorded = true)
{
    UnfinishedUpdate u;
    u.file = "/data/JT5 Pro.settings.txt";
    u.device = "JT5 Pro";
    u.serialNumber = "JVA-001";
    u.port = port;
    u.resolvedPort = resolved;
    u.portIsLink = link;
    u.severalPorts = severalPorts;
    u.recorded = recorded;
    return u;
}

void Write(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

// Only the one update a one-port run left on this very port is restored
// without a question; a by-id name is compared by name, as it stays with its
// adapter when the system numbers the ports anew.
TEST(UnfinishedUpdates, ALoaderDeviceGetsOnlyTheOneUpdateOfItsOwnPort)
{
    const PortName usb0{"/dev/ttyUSB0", "/dev/ttyUSB0", false};
    const PortName byIdA{"/dev/serial/by-id/usb-A", "/dev/ttyUSB1", true};
    const struct {
        const char* what;
        std::vector<UnfinishedUpdate> candidates;
        PortName port;
        LoaderMatch expected;
    } rows[] = {
        {"none", {}, usb0, LoaderMatch::NothingToRestore},
        {"its own port", {Saved("/dev/ttyUSB0", "/dev/ttyUSB0", false, false)}, usb0, LoaderMatch::Restore},
        {"another port", {Saved("/dev/ttyUSB1", "/dev/ttyUSB1", false, false)}, usb0, LoaderMatch::Ask},
        {"no record (earlier version)", {Saved("", "", false, false, false)}, usb0, LoaderMatch::Ask},
        {"left by a several-port run", {Saved("/dev/ttyUSB0", "/dev/ttyUSB0", false, true)}, usb0, LoaderMatch::Ask},
        {"two, one of them its port's",
         {Saved("/dev/ttyUSB0", "/dev/ttyUSB0", false, false), Saved("/dev/ttyUSB1", "/dev/ttyUSB1", false, false)},
         usb0, LoaderMatch::Ask},
        {"the same by-id name, renumbered", {Saved("/dev/serial/by-id/usb-A", "/dev/ttyUSB0", true, false)}, byIdA, LoaderMatch::Restore},
        {"another by-id name on the old node", {Saved("/dev/serial/by-id/usb-B", "/dev/ttyUSB1", true, false)},
         byIdA, LoaderMatch::Ask},
    };
    for (const auto& row : rows) {
        std::size_t which = 99;
        EXPECT_EQ(MatchInLoader(row.candidates, row.port, &which), row.expected) << row.what;
        if (row.expected == LoaderMatch::Restore) {
            EXPECT_EQ(which, 0u) << row.what;
        }
    }
}

// The record survives a restart; files of other types are not candidates;
// a file left without a record by an earlier version is one, port unknown.
TEST(UnfinishedUpdates, RecordsAndTheFilesOfADeviceType)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("kelo-unfinished-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string own = (dir / "JT5 Pro.settings.txt").string();
    const std::string numbered = unfinished::NumberedName(own, 2);
    EXPECT_EQ(numbered, (dir / "JT5 Pro (2).settings.txt").string());
    Write(own, "type=\"JV\"\r\nsn=\"JVA-001\"\r\n");
    Write(numbered, "type=\"JV\"\r\nsn=\"JVB-002\"\r\n");
    Write(dir / "JT5 Pro-ttyUSB3.settings.txt", "type=\"JV\"\r\nsn=\"JVC-003\"\r\n");  // earlier version, several ports
    Write(dir / "JT5 Professional.settings.txt", "x");                                 // another name
    Write(dir / "Qx70.settings.txt", "x");
    Write(dir / "JT5 Pro.settings.txt.new", "x");

    UnfinishedUpdate saved = Saved("/dev/serial/by-id/usb-A\nx", "/dev/ttyUSB0", true, false);
    saved.file = numbered;
    saved.serialNumber = "JVB-002";
    saved.saved = 1765185300;
    saved.archive = (dir / "archive" / "JT5 Pro" / "JVB-002-20251208T091500Z.settings.txt").string();
    ASSERT_EQ(unfinished::Open(saved), "");

    const std::vector<UnfinishedUpdate> found = unfinished::OfDevice(dir.string(), "JT5 Pro");
    ASSERT_EQ(found.size(), 3u);
    int recorded = 0;
    for (const UnfinishedUpdate& u : found) {
        SCOPED_TRACE(u.file);
        if (u.file == numbered) {
            ++recorded;
            EXPECT_TRUE(u.recorded);
            EXPECT_EQ(u.serialNumber, "JVB-002");
            EXPECT_EQ(u.port, "/dev/serial/by-id/usb-A x") << "a line end cannot split the record";
            EXPECT_EQ(u.resolvedPort, "/dev/ttyUSB0");
            EXPECT_TRUE(u.portIsLink);
            EXPECT_FALSE(u.severalPorts);
            EXPECT_EQ(u.saved, saved.saved);
            EXPECT_EQ(u.archive, saved.archive);
        } else {
            EXPECT_FALSE(u.recorded);
            EXPECT_EQ(u.port, "");
            EXPECT_FALSE(u.serialNumber.empty()) << "read from the file itself";
        }
    }
    EXPECT_EQ(recorded, 1);

    unfinished::End(numbered);
    EXPECT_FALSE(fs::exists(numbered));
    EXPECT_FALSE(fs::exists(unfinished::RecordPath(numbered)));
    EXPECT_EQ(unfinished::OfDevice(dir.string(), "JT5 Pro").size(), 2u);
    fs::remove_all(dir);
}

// Two holders in one program exclude each other as two programs do; the
// holder's words can be read while it holds the lock, and it is free again
// once released.
TEST(UnfinishedUpdates, ALockedSettingsFileNamesItsHolder)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("kelo-lock-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = unfinished::LockPath((dir / "JT5 Pro.settings.txt").string());
    FileLock first;
    FileLock second;
    ASSERT_EQ(first.TryLock(path), 1);
    ASSERT_TRUE(first.WriteHolder("the update of the JT5 Pro on /dev/ttyUSB0"));
    EXPECT_EQ(second.TryLock(path), 0);
    EXPECT_EQ(FileLock::ReadHolder(path), "the update of the JT5 Pro on /dev/ttyUSB0");
    first.Unlock();
    EXPECT_TRUE(fs::exists(path)) << "the lock file stays for whoever waits on it";
    EXPECT_EQ(second.TryLock(path), 1);
    EXPECT_LT(second.TryLock((dir / "other.lock").string()), 0) << "one file per holder";
    second.Unlock();
    fs::remove_all(dir);
}
