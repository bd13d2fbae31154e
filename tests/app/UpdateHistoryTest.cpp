#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <latch>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

#include "UpdateHistory.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class UpdateHistoryTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }
    const fs::path dir_ = fs::path(::testing::TempDir()) / ("kelo-history-" + std::to_string(::getpid()));
    const UpdateHistory history_{dir_.string()};
};

}  // namespace

// Whatever a device or a port name holds, the line stays one valid JSON object.
TEST(UpdateRecord, JsonEscapesTextsAndWritesEmptyOnesAsNull)
{
    const struct {
        const char* text;
        const char* json;
    } rows[] = {
        {"say \"hi\" C:\\x\\", "\"say \\\"hi\\\" C:\\\\x\\\\\""},
        {"a\nb\rc\td\x01\x1b\x7f", "\"a\\nb\\rc\\td\\u0001\\u001b\\u007f\""},
        {"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80", "\"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xff x\xc3", "\"\xef\xbf\xbd x\xef\xbf\xbd\""},                        // never UTF-8; cut off
        {"\xc0\xaf\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // overlong; surrogate
    };
    for (const auto& row : rows)
        EXPECT_EQ(JsonQuoted(row.text), row.json) << row.text;

    UpdateRecord record;
    record.time = 1765185300;  // 2025-12-08 09:15:00 UTC
    record.port = "COM3";
    record.result = -20;
    record.words = "no such port (-2)";
    record.seconds = 66.25;
    EXPECT_EQ(record.ToJson(), "{\"time\":\"2025-12-08T09:15:00Z\",\"port\":\"COM3\",\"device\":null,"
                               "\"serialNumber\":null,\"oldVersion\":null,\"newVersion\":null,\"result\":-20,"
                               "\"words\":\"no such port (-2)\",\"seconds\":66.3,\"settingsArchive\":null,"
                               "\"newSerialNumber\":null}");

    // Bytes that are not UTF-8 in a field: the line still reads back whole.
    record.device = "Hydrova\xff";
    record.words = "cut \xe2\x82";
    const nlohmann::json line = nlohmann::json::parse(record.ToJson(), nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << record.ToJson();
    EXPECT_EQ(line["device"], "Hydrova\xef\xbf\xbd");
    EXPECT_EQ(line["words"], "cut \xef\xbf\xbd");
    EXPECT_EQ(line["result"], -20);
}

// Parallel updates: every record ends up whole on a line of its own. Long
// lines written all at once make a torn write show.
TEST_F(UpdateHistoryTest, ThreadsAppendWholeLines)
{
    constexpr int kThreads = 8;
    std::set<std::string> expected;
    std::vector<std::thread> threads;
    std::latch start(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        std::vector<UpdateRecord> records(40);
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].port = "port" + std::to_string(t) + "-" + std::to_string(i);
            records[i].words = std::string(3000, static_cast<char>('a' + t));
            expected.insert(records[i].ToJson());
        }
        threads.emplace_back([this, &start, records] {
            start.arrive_and_wait();
            for (const UpdateRecord& record : records) {
                std::string error;
                EXPECT_TRUE(history_.Append(record, &error)) << error;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::size_t torn = 0;
    for (const std::string& line : Lines(history_.Path()))
        torn += expected.erase(line) == 0;
    EXPECT_EQ(torn, 0u) << "lines that are not one whole record";
    EXPECT_TRUE(expected.empty()) << expected.size() << " records missing";
}

// A writer that died mid-line does not take the next record with it; a
// history that cannot be written says why.
TEST_F(UpdateHistoryTest, AppendsAfterAnUnfinishedLineAndReportsAFileItCannotWrite)
{
    std::ofstream(history_.Path(), std::ios::binary) << "{\"time\":\"2026-01-01T00:00:00Z\"}\n{\"time\":\"20";
    UpdateRecord record;
    std::string error;
    ASSERT_TRUE(history_.Append(record, &error)) << error;
    EXPECT_EQ(Lines(history_.Path()), (std::vector<std::string>{"{\"time\":\"2026-01-01T00:00:00Z\"}",
                                                                "{\"time\":\"20", record.ToJson()}));

    EXPECT_FALSE(UpdateHistory(history_.Path()).Append(record, &error));  // its folder is a file
    EXPECT_FALSE(error.empty());
}
