#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <latch>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "UpdateHistory.h"

namespace fs = std::filesystem;

namespace {

fs::path ScratchFolder(const char* name)
{
    const fs::path dir = fs::path(::testing::TempDir()) / (name + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

// Whatever a device or a port name holds, the line stays one valid JSON object.
TEST(UpdateRecord, JsonEscapesTextsAndWritesEmptyOnesAsNull)
{
    const struct {
        const char* text;
        const char* json;
    } rows[] = {
        {"COM3", "\"COM3\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\data\\", "\"C:\\\\data\\\\\""},
        {"a\nb\rc\td", "\"a\\nb\\rc\\td\""},
        {"\x01\x1b\x1f\x7f", "\"\\u0001\\u001b\\u001f\\u007f\""},
        {"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80", "\"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xff", "\"\xef\xbf\xbd\""},                              // never UTF-8
        {"x\xc3", "\"x\xef\xbf\xbd\""},                            // cut off
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},              // overlong '/'
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // a surrogate
    };
    for (const auto& row : rows)
        EXPECT_EQ(JsonQuoted(row.text), row.json) << row.text;

    UpdateRecord record;
    record.time = 1765185300;  // 2025-12-08 09:15:00 UTC
    record.port = "/dev/ttyUSB0";
    record.device = "Hydrova Series 3";
    record.newVersion = "3.52";
    record.result = -20;
    record.words = "no such port (-2)";
    record.seconds = 66.25;
    EXPECT_EQ(record.ToJson(),
              "{\"time\":\"2025-12-08T09:15:00Z\",\"port\":\"/dev/ttyUSB0\",\"device\":\"Hydrova Series 3\","
              "\"serialNumber\":null,\"oldVersion\":null,\"newVersion\":\"3.52\",\"result\":-20,"
              "\"words\":\"no such port (-2)\",\"seconds\":66.3,\"settingsArchive\":null,\"newSerialNumber\":null}");
}

// Parallel updates of one process: every record ends up whole on a line of
// its own. Long lines make a torn write show.
TEST(UpdateHistory, ThreadsAppendWholeLines)
{
    const fs::path dir = ScratchFolder("kelo-history-");
    const UpdateHistory history(dir.string());
    constexpr int kThreads = 8;
    constexpr int kRecords = 40;
    std::set<std::string> expected;
    std::vector<std::thread> threads;
    std::latch start(kThreads);  // all threads write at once
    for (int t = 0; t < kThreads; ++t) {
        std::vector<UpdateRecord> records(kRecords);
        for (int i = 0; i < kRecords; ++i) {
            records[i].port = "port" + std::to_string(t) + "-" + std::to_string(i);
            records[i].words = std::string(3000, static_cast<char>('a' + t));
            expected.insert(records[i].ToJson());
        }
        threads.emplace_back([&history, &start, records] {
            start.arrive_and_wait();
            for (const UpdateRecord& record : records) {
                std::string error;
                EXPECT_TRUE(history.Append(record, &error)) << error;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::size_t torn = 0;
    for (const std::string& line : Lines(history.Path()))
        torn += expected.erase(line) == 0;
    EXPECT_EQ(torn, 0u) << "lines that are not one whole record";
    EXPECT_TRUE(expected.empty()) << expected.size() << " records missing";
    fs::remove_all(dir);
}

// A writer that died mid-line does not take the next record with it; a
// history that cannot be written says why.
TEST(UpdateHistory, AppendsAfterAnUnfinishedLineAndReportsAFileItCannotWrite)
{
    const fs::path dir = ScratchFolder("kelo-history-cut-");
    const UpdateHistory history(dir.string());
    std::ofstream(history.Path(), std::ios::binary) << "{\"time\":\"2026-01-01T00:00:00Z\"}\n{\"time\":\"20";
    UpdateRecord record;
    record.port = "COM3";
    std::string error;
    ASSERT_TRUE(history.Append(record, &error)) << error;
    const std::vector<std::string> lines = Lines(history.Path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "{\"time\":\"20");
    EXPECT_EQ(lines[2], record.ToJson());

    const UpdateHistory blocked((dir / "history.jsonl" / "not-a-folder").string());
    EXPECT_FALSE(blocked.Append(record, &error));
    EXPECT_FALSE(error.empty());
    fs::remove_all(dir);
}
