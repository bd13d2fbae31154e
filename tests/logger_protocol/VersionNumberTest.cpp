#include <gtest/gtest.h>

#include "VersionNumber.h"

TEST(ScanVersion, ReadsLikeTheDevicesWriteAndRefusesSignsAndOverflow)
{
    const struct {
        const char* text;
        int fields;
        int32_t number;  // checked when fields >= 2
    } cases[] = {
        {"3.52", 3, 352},
        {" 1.23 (build 7)", 3, 123},
        {"2.1", 2, 210},
        {"2.", 1, 0},
        {"12", 1, 0},
        {"9999.99", 3, 999999},
        {"10000.00", 0, 0},
        {"2147483647.99", 0, 0},
        {"99999999999999999999.99", 0, 0},
        {"-1.00", 0, 0},
        {"+3.52", 0, 0},
        {"x.51", 0, 0},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        int32_t number = -7;
        EXPECT_EQ(ScanVersion(c.text, &number), c.fields) << c.text;
        EXPECT_EQ(number, c.fields >= 2 ? c.number : -7) << c.text;
    }
    EXPECT_EQ(ScanVersion(nullptr, nullptr), 0);
}
