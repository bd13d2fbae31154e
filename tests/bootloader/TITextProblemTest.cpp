// Where a broken TI-Text file goes wrong, so that a person can mend it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TITextReader.h"

TEST(TITextProblemTest, NamesTheLineAndWhatWasExpected)
{
    const std::string vectors = "@FFE0\n00 11\n";
    const std::string longLine(100, ' ');  // read in pieces, still one line
    const struct {
        std::string text;
        uint32_t line;
        std::string expected;
    } cases[] = {
        {"", 0, "the file is empty"},
        {"; note\n@7200\n", 1, "at the start of the file"},
        {"@7200\n01 02\n@72G0\n" + vectors + "q\n", 3, "an address line: @ and four hex digits"},
        {"@7200\n" + longLine + "01\n02 G7\n" + vectors + "q\n", 3, "bytes of two hex digits each"},
        {"@7200\r\n01 02\r\nq\r\n", 3, "the interrupt vectors"},
        {"@7200\n01 02\n" + vectors, 4, "the end mark \"q\""},
    };
    for (const auto& c : cases) {
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        std::fputs(c.text.c_str(), file);
        std::rewind(file);
        char image[512];
        uint32_t table[TITextReader::kVectorCount];
        TITextReader reader(image, sizeof image, table);
        EXPECT_FALSE(reader.Read(file, static_cast<uint32_t>(c.text.size()))) << c.text;
        EXPECT_EQ(reader.ProblemLine(), c.line) << c.text;
        EXPECT_NE(std::string(reader.Problem()).find(c.expected), std::string::npos) << reader.Problem();
        std::fclose(file);
    }
}
