#include <gtest/gtest.h>

#include <cstring>

#include "CommPortEnum.h"
#include "KeloSerial.h"

TEST(CommPortEnum, RefusesMissingArgumentsAndZeroCapacity)
{
    KeloSerial serial(nullptr);
    CommPortEntry entries[2];
    int count = 0;
    EXPECT_EQ(CommPortEnum(&serial, nullptr, &count, false), -10);
    EXPECT_EQ(CommPortEnum(&serial, entries, nullptr, false), -10);
    EXPECT_EQ(CommPortEnum(&serial, entries, &count, false), -11);
}

TEST(CommPortEnum, ListsOnlyWhatFitsAndClearsTheRest)
{
    KeloSerial serial(nullptr);
    CommPortEntry entries[8];
    std::memset(entries, 'x', sizeof entries);
    int count = 8;
    int result = CommPortEnum(&serial, entries, &count, true);
    ASSERT_GE(result, 0);
    // Windows counts only the system's own list in the result, not the ports
    // that probing added.
    EXPECT_LE(result, count);
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
}

TEST(CommPortEnum, EntryTextCutsTheDescription)
{
    CommPortEntry entry{};
    comm_port_enum_detail::SetEntry(&entry, "ttyUSB10", "FTDI FT232R USB UART with a very long product description");
    EXPECT_STREQ(entry.portName, "ttyUSB10");
    EXPECT_STREQ(entry.displayText, "ttyUSB10 FTDI FT232R USB UART with a very long pr");
}
