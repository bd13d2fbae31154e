#include <gtest/gtest.h>

#include "PortPath.h"

// One rule for every caller: the serial port opens the path, the messages
// name it, and two names are one port when their paths are.
TEST(PortPath, BareNamesGetTheSystemsPrefixOthersStayAsTyped)
{
    const struct {
        const char* name;
        const char* opened;
        const char* shown;
    } rows[] = {
#if defined(_WIN32)
        {"COM3", "\\\\.\\COM3", "COM3"},
        {"\\\\.\\COM10", "\\\\.\\COM10", "\\\\.\\COM10"},
        {"\\\\?\\COM4", "\\\\?\\COM4", "\\\\?\\COM4"},
#else
        {"ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3", "/dev/pts/3"},
        {"/dev/serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00"},
        {"/tmp/bench/port", "/tmp/bench/port", "/tmp/bench/port"},
#endif
        {"", "", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PortDevicePath(row.name), row.opened) << row.name;
        EXPECT_EQ(PortPathForPeople(row.name), row.shown) << row.name;
    }
#if !defined(_WIN32)
    const std::string byId = "/dev/serial/by-id/" + std::string(200, 'a');  // no length limit
    EXPECT_EQ(PortDevicePath(byId), byId);
#endif
}
