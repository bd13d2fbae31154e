// A factory's serial number list: handed out in order, each number once,
// given back when not written, never one the history shows written, and
// never the same one to two takers at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "SerialNumberList.h"

namespace fs = std::filesystem;

namespace {

class SerialNumberListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("snlist-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Take(SerialNumberList& list, std::string* note = nullptr)
    {
        std::string number, scratch, error;
        const auto taken = list.TakeNext("/dev/ttyUSB0", &number, note ? note : &scratch, &error);
        EXPECT_NE(taken, SerialNumberList::Take::Failed) << error;
        return number;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(SerialNumberListTest, HandsOutInOrderGivesBackToTheHeadAndRecordsTheUse)
{
    const std::string path = Path("numbers.txt");
    Write(path, "# line 7\r\nSN-0001\r\n\r\nSN-0002\r\nSN-0003\r\n");
    SerialNumberList list(path, Path("history.jsonl"));
    EXPECT_EQ(list.PeekNext(), "SN-0001");
    EXPECT_EQ(Take(list), "SN-0001");
    EXPECT_EQ(Take(list), "SN-0002");
    std::string error;
    ASSERT_TRUE(list.GiveBack("SN-0001", &error)) << error;
    ASSERT_TRUE(list.MarkUsed("SN-0002", "JT5 Pro", "/dev/ttyUSB1", "3.52", &error)) << error;
    EXPECT_FALSE(list.MarkUsed("SN-0002", "JT5 Pro", "/dev/ttyUSB1", "3.52", &error)) << "settled twice";
    EXPECT_EQ(list.PeekNext(), "SN-0001");
    EXPECT_EQ(Take(list), "SN-0001");

    const std::string text = Read(path);
    EXPECT_EQ(text.rfind("# line 7\r\nSN-0001\ttaken ", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n\r\nSN-0002\tused "), std::string::npos) << text;
    EXPECT_NE(text.find(": JT5 Pro on /dev/ttyUSB1, firmware 3.52\r\nSN-0003\r\n"), std::string::npos) << text;
}

TEST_F(SerialNumberListTest, SkipsNumbersTheHistoryShowsWrittenOrTheListNamesTwiceAndSaysWhenNoneAreLeft)
{
    const std::string path = Path("numbers.txt");
    Write(path, "SN-0001\nSN-0002\nSN-0002\n");
    Write(Path("history.jsonl"),
          "{\"time\":\"2026-12-01T08:00:00Z\",\"newSerialNumber\":\"SN-00011\"}\n"
          "{\"time\":\"2026-12-01T09:00:00Z\",\"serialNumber\":\"SN-0001\",\"newSerialNumber\":null}\n"
          "{\"time\":\"2026-12-02T10:00:00Z\",\"newSerialNumber\":\"SN-0001\"}\n");
    SerialNumberList list(path, Path("history.jsonl"));
    std::string note;
    EXPECT_EQ(Take(list, &note), "SN-0002");
    EXPECT_NE(note.find("SN-0001 is skipped: the update history shows it written on 2026-12-02T10:00:00Z"),
              std::string::npos) << note;

    std::string number, error;
    EXPECT_EQ(list.TakeNext("/dev/ttyUSB0", &number, &note, &error), SerialNumberList::Take::NoneLeft);
    EXPECT_TRUE(number.empty());
    EXPECT_NE(note.find("SN-0002 is skipped: the list names it twice"), std::string::npos) << note;
    EXPECT_NE(note.find("no serial numbers left in " + path + " (2 used, 1 taken"), std::string::npos) << note;
    EXPECT_EQ(list.PeekNext(), "");

    // A window's box shows what an update takes: both pass over a number no instrument can hold.
    Write(path, "SN-0000000000000001\nSN-0003\n");
    EXPECT_EQ(list.PeekNext(), "SN-0003");
    EXPECT_EQ(list.TakeForUpdate("/dev/ttyUSB0", &number, &note, &error), SerialNumberList::Take::Taken);
    EXPECT_EQ(number, "SN-0003");
    EXPECT_NE(note.find("SN-0000000000000001 is skipped: the new serial number has 19 characters"), std::string::npos)
        << note;
}

TEST_F(SerialNumberListTest, TakersAtTheSameTimeNeverGetTheSameNumber)
{
    const std::string path = Path("numbers.txt");
    std::string text;
    for (int i = 0; i < 24; ++i)
        text += "SN-" + std::to_string(1000 + i) + "\n";
    Write(path, text);
    std::vector<std::vector<std::string>> got(6);
    std::vector<std::thread> takers;
    for (auto& mine : got)
        takers.emplace_back([&, out = &mine] {
            SerialNumberList list(path, Path("history.jsonl"));  // each as its own program would
            for (int i = 0; i < 5; ++i) {
                std::string number = Take(list);
                if (!number.empty())
                    out->push_back(number);
            }
        });
    for (auto& taker : takers)
        taker.join();
    std::set<std::string> all;
    size_t count = 0;
    for (const auto& mine : got) {
        all.insert(mine.begin(), mine.end());
        count += mine.size();
    }
    EXPECT_EQ(count, 24u);
    EXPECT_EQ(all.size(), 24u) << "a number was handed out twice";
}
