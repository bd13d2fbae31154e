#include <gtest/gtest.h>

#include "PortShortName.h"

TEST(PortShortName, IsShortAndSafeAsPartOfAFileName)
{
    const struct {
        const char* port;
        const char* name;
    } rows[] = {
        {"ttyUSB0", "ttyUSB0"},
        {"/dev/ttyUSB0", "ttyUSB0"},
        {"/dev/pts/7", "pts7"},
        {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0", "usb-FTDI_FT232R_A1B2-if00-port0"},
        {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0", "pci-0000_00_14.0-usb-0_2_1.0"},
        {"/tmp/bench/R7F a", "R7F_a"},  // a link outside /dev: its own name
        {"COM3", "COM3"},
        {"\\\\.\\COM10", "COM10"},
        {"/dev/..", "port"},
        {"/dev/x*?|<>\"", "x______"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PortShortName(row.port), row.name) << row.port;
    EXPECT_EQ(PortShortName("/dev/serial/by-id/" + std::string(100, 'a')).size(), 64u);
}

TEST(PortShortName, TwoPortsNeverShareAName)
{
    EXPECT_EQ(PortShortNames({"/dev/pts/3", "/tmp/a/pts3", "/tmp/b/pts3", "ttyUSB0"}),
              (std::vector<std::string>{"pts3", "pts3-2", "pts3-3", "ttyUSB0"}));
}

TEST(PortShortName, SamePortUnderTwoNames)
{
#if defined(_WIN32)
    EXPECT_TRUE(SamePort("COM3", "com3"));
    EXPECT_TRUE(SamePort("\\\\.\\COM10", "COM10"));
    EXPECT_TRUE(SamePort("\\\\.\\COM10", "\\\\.\\com10"));
    EXPECT_FALSE(SamePort("COM1", "COM10"));
#else
    EXPECT_TRUE(SamePort("ttyS0", "/dev/ttyS0"));
    EXPECT_TRUE(SamePort("pts/0", "/dev/pts/0"));  // the name the port opens by
    EXPECT_TRUE(SamePort("/dev/null", "/dev/../dev/null"));  // one file, two paths
    EXPECT_FALSE(SamePort("/dev/pts/1", "/dev/pts/10"));
    EXPECT_FALSE(SamePort("/dev/no-such-port-a", "/dev/no-such-port-b"));
#endif
}
