#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "CommPortEnum.h"
#include "KeloSerial.h"

namespace fs = std::filesystem;

TEST(CommPortEnum, RefusesMissingArgumentsAndZeroCapacity)
{
    KeloSerial serial(nullptr);
    CommPortEntry entries[2];
    int count = 0;
    EXPECT_EQ(CommPortEnum(&serial, nullptr, &count, false), -10);
    EXPECT_EQ(CommPortEnum(&serial, entries, nullptr, false), -10);
    EXPECT_EQ(CommPortEnum(&serial, entries, &count, false), -11);
}

#ifndef _WIN32
namespace {

// A system with two serial ports, as sysfs shows it (a USB adapter and a
// UART), next to entries that are no ports; pseudo-terminals stand in for the
// devices, so the brief exclusive open finds something there.
class FakePortTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = std::string(::testing::TempDir()) + "kelo-ports-" + std::to_string(::getpid());
        fs::remove_all(root_);
        const std::string usb = root_ + "/sys/devices/usb1/1-1";
        const std::string uart = root_ + "/sys/devices/platform/serial8250";
        const std::string drivers = root_ + "/sys/bus/drivers";
        for (const std::string& dir : {usb + "/1-1:1.0", uart, drivers + "/ftdi_sio", drivers + "/serial8250",
                                       drivers + "/cdc_acm", root_ + "/sys/devices/acm", root_ + "/dev"})
            fs::create_directories(dir);
        std::ofstream(usb + "/product") << "FT232R USB UART\n";
        std::ofstream(usb + "/manufacturer") << "FTDI\n";
        fs::create_directory_symlink(drivers + "/ftdi_sio", usb + "/1-1:1.0/driver");
        fs::create_directory_symlink(drivers + "/serial8250", uart + "/driver");
        fs::create_directory_symlink(drivers + "/cdc_acm", root_ + "/sys/devices/acm/driver");
        const std::string tty = root_ + "/sys/class/tty";
        AddTty(tty + "/ttyUSB7", usb + "/1-1:1.0", "");
        AddTty(tty + "/ttyS4", uart, "4");
        AddTty(tty + "/ttyS3", uart, "0");                      // a UART slot with nothing in it
        AddTty(tty + "/ttyACM0", root_ + "/sys/devices/acm", "");  // no device node: does not open
        fs::create_directories(tty + "/tty1");                   // a console: no device
        for (const char* name : {"ttyUSB7", "ttyS4", "ttyS3"}) {
            int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(master, 0);
            ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
            masters_.push_back(master);
            fs::create_symlink(::ptsname(master), root_ + "/dev/" + name);
        }
        comm_port_enum_detail::SetSystemRoots(tty.c_str(), (root_ + "/dev").c_str());
    }
    void TearDown() override
    {
        comm_port_enum_detail::SetSystemRoots(nullptr, nullptr);
        for (int master : masters_)
            ::close(master);
        fs::remove_all(root_);
    }
    static void AddTty(const std::string& dir, const std::string& device, const char* type)
    {
        fs::create_directories(dir);
        fs::create_directory_symlink(device, dir + "/device");
        if (*type)
            std::ofstream(dir + "/type") << type << "\n";
    }

    std::string root_;
    std::vector<int> masters_;
};

}  // namespace

TEST_F(FakePortTree, ListsOnlyWhatFitsAndClearsTheRest)
{
    KeloSerial serial(nullptr);
    CommPortEntry entries[8];
    std::memset(entries, 'x', sizeof entries);
    int count = 8;
    // ttyS3 opens, but sysfs says no UART is there: only a forced search would list it.
    int result = CommPortEnum(&serial, entries, &count, false);
    ASSERT_EQ(result, 2);
    EXPECT_STREQ(entries[0].displayText, "ttyS4 Communications Port (serial8250)");
    EXPECT_STREQ(entries[1].displayText, "ttyUSB7 FTDI FT232R USB UART");
    EXPECT_EQ(result, count);
    EXPECT_LE(count, 8);
    for (int i = count; i < 8; ++i) {
        EXPECT_EQ(entries[i].portName[0], '\0');
        EXPECT_EQ(entries[i].displayText[0], '\0');
    }
    for (int i = 0; i < count; ++i) {
        // The display text starts with the port name and a blank.
        std::string text = entries[i].displayText;
        EXPECT_EQ(text.rfind(std::string(entries[i].portName) + " ", 0), 0u) << text;
        for (int j = 0; j < i; ++j)
            EXPECT_STRNE(entries[i].portName, entries[j].portName);
    }

    count = 1;
    EXPECT_EQ(CommPortEnum(&serial, entries, &count, false), 1);
    EXPECT_STREQ(entries[0].portName, "ttyS4");
}
#endif

TEST(CommPortEnum, EntryTextCutsTheDescription)
{
    CommPortEntry entry{};
    comm_port_enum_detail::SetEntry(&entry, "ttyUSB10", "FTDI FT232R USB UART with a very long product description");
    EXPECT_STREQ(entry.portName, "ttyUSB10");
    EXPECT_STREQ(entry.displayText, "ttyUSB10 FTDI FT232R USB UART with a very long pr");
}
