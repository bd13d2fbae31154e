#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Result.h"

using namespace result;

TEST(Result, EveryCodeHasOneMeaningWordsAndLiesInItsFloorsRange)
{
    int count = 0;
    const Entry* table = Table(&count);
    std::set<Result> seen;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].code);
        EXPECT_LT(table[i].code, 0);
        EXPECT_TRUE(seen.insert(table[i].code).second) << "two names share the number";
        EXPECT_EQ(FloorOf(table[i].code), table[i].floor);
        EXPECT_STRNE(Words(table[i].code), "system error");
    }
    for (const Range& a : kRanges)
        for (const Range& b : kRanges)
            EXPECT_TRUE(&a == &b || a.low > b.high || a.high < b.low) << a.high << " overlaps " << b.high;
    // The port's refusal and a device type's are told apart.
    EXPECT_STRNE(Words(kNoPermission), Words(kNotForThisDevice));
    EXPECT_STREQ(Words(-7), "system error");
}

TEST(Result, PredicatesHoldForExactlyTheCodesTheyName)
{
    const struct {
        const char* name;
        bool (*holds)(Result);
        std::set<Result> codes;
    } rows[] = {
        {"InLoader", InLoader, {kInLoader, kInLoaderOld}},
        {"IsNoAnswer", IsNoAnswer, {kNoAnswer, kNoUsableAnswer, kDeviceSilent}},
        {"IsEcho", IsEcho, {kEchoed, kEchoedAgain}},
        {"LineInDoubt", LineInDoubt, {kNoAnswer, kEchoed}},
    };
    int count = 0;
    const Entry* table = Table(&count);
    for (const auto& row : rows) {
        std::set<Result> found;
        for (int i = 0; i < count; ++i)
            if (row.holds(table[i].code))
                found.insert(table[i].code);
        EXPECT_EQ(found, row.codes) << row.name;
    }
}

// A bare negative number returned or compared in product code is a result
// outside the vocabulary: it gets a name here instead.
TEST(Result, ProductCodeNamesItsResults)
{
    const std::filesystem::path root = KELO_SOURCE_DIR;
    if (!std::filesystem::is_directory(root / "log"))
        GTEST_SKIP() << "no source tree at " << root;
    const std::regex bare(R"((return|==|!=|case) -[0-9]+\b)");
    std::vector<std::string> found;
    for (const char* folder : {"log", "platform", "serial", "bootloader", "logger_protocol", "instrument", "app",
                               "cli", "gui"}) {
        if (!std::filesystem::is_directory(root / folder))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h")
                continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int n = 1; std::getline(in, line); ++n)
                if (std::regex_search(line, bare))
                    found.push_back(entry.path().string() + ":" + std::to_string(n) + ": " + line);
        }
    }
    EXPECT_EQ(found, std::vector<std::string>{});
}
