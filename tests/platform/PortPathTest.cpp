#include <gtest/gtest.h>

#include "PortPath.h"

// One rule for every caller: the serial port opens the path, messages show it.
TEST(PortPath, BareNamesGetTheSystemsPrefixOthersStayAsTyped)
{
    const struct {
        const char *name, *opened, *shown;
    } rows[] = {
#if defined(_WIN32)
        {"COM3", "\\\\.\\COM3", "COM3"},
        {"\\\\.\\COM10", "\\\\.\\COM10", "\\\\.\\COM10"},
#else
        {"ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3", "/dev/pts/3"},
        {"/dev/serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00"},
#endif
        {"", "", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PortDevicePath(row.name), row.opened) << row.name;
        EXPECT_EQ(PortPathForPeople(row.name), row.shown) << row.name;
    }
}
