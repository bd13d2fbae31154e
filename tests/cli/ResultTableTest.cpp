#include <gtest/gtest.h>

#include "ResultTable.h"

TEST(ResultTable, ExitCodeIsTheHighestAmongThePorts)
{
    const struct {
        std::vector<int> codes;
        int combined;
    } rows[] = {
        {{0, 0, 0, 0}, 0},
        {{0, 4, 0, 0}, 4},
        {{3, 0, 7}, 7},
        {{6, 5}, 6},
        {{0}, 0},
    };
    for (const auto& row : rows) {
        std::vector<PortResult> results;
        for (int code : row.codes)
            results.push_back(PortResult{"p", "d", "1.00", "1.01", code, 1.0, ""});
        EXPECT_EQ(CombinedExitCode(results), row.combined) << ::testing::PrintToString(row.codes);
    }
}

TEST(ResultTable, OneAlignedRowPerPortWithTheFailuresMessage)
{
    const std::vector<PortResult> results = {
        {"/dev/pts/3", "Hydrova Series 3", "3.51", "3.52", 0, 66.04, ""},
        {"/dev/pts/12", "Hydrova Series 3", "3.51", "3.52", 4, 3.2,
         "this Hydrova Series 3 has no working firmware loader (-112).\nContact Tessaly."},
    };
    EXPECT_EQ(ResultTable(results),
              "Port         Device            Version       Result       Seconds  Message\n"
              "/dev/pts/3   Hydrova Series 3  3.51 -> 3.52  updated      66.0\n"
              "/dev/pts/12  Hydrova Series 3  3.51 -> 3.52  refused (4)  3.2      this Hydrova Series 3 has no "
              "working firmware loader (-112). Contact Tessaly.\n");
}
