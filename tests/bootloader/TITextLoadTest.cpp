// Loading TI-Text firmware files into a FirmwareImage, and the built-in image.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BslTestSupport.h"
#include "FirmwareImage.h"
#include "Result.h"
#include "FirmwareTarget.h"
#include "KeloBSLHost.h"
#include "KeloLog.h"
#include "MemoryLine.h"

namespace {

class LoadTest : public ::testing::Test {
protected:
    // A failed load leaves `image` as it was.
    int Load(const std::string& text, const std::string& name = "R7F-3-60.txt")
    {
        return FirmwareImage::Load(dir.Write(name, text).c_str(), &log, &image);
    }
    std::string Image() const { return std::string(image->Text(), image->Length()); }

    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    KeloLog log{logPath.c_str(), 30, true};
    std::shared_ptr<const FirmwareImage> image = FirmwareImage::BuiltIn();
};

const std::string kVectors = "@FFE0\n"
                             "00 11 02 11 04 11 06 11 08 11 0A 11 0C 11 0E 11\n"
                             "10 11 12 11 14 11 16 11 18 11 1A 11 1C 11 00 72\n";

TEST_F(LoadTest, CompactImageVectorsAndTarget)
{
    ASSERT_EQ(Load("@7200\n2C 01 FF 3F\n@FE00\n01 02\n" + kVectors + "q\n"), 1);
    EXPECT_EQ(Image(), "@7200012C3FFF@FE000201");
    EXPECT_FALSE(image->IsBuiltIn());
    EXPECT_EQ(image->Vectors()[0], 0x1100u);
    EXPECT_EQ(image->Vectors()[14], 0x111Cu);
    EXPECT_EQ(image->Vectors()[15], 0x7200u);
    EXPECT_STREQ(image->TargetName(), "R7F 3.60");
    EXPECT_EQ(image->TargetType(), 12);
    EXPECT_EQ(image->Version(), 360);
    EXPECT_NE(ReadFile(logPath).find("KeloBSL: BSLLoadTIFile loaded file " + dir.Path("R7F-3-60.txt") + " ("),
              std::string::npos);
}

TEST_F(LoadTest, OddLinesWindowsLineEndsAndPartialVectors)
{
    // 15 bytes give 8 words, the last one padded with FF; CR LF line ends.
    ASSERT_EQ(Load("@1100\r\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n\r\n@FFFE\r\n34 12\r\nq\r\n"), 1);
    EXPECT_EQ(Image(), "@110002010403060508070A090C0B0E0DFF0F");
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(image->Vectors()[i], 0xFFFFu) << i;
    EXPECT_EQ(image->Vectors()[15], 0x1234u);
}

TEST_F(LoadTest, InvalidFilesAreRejectedAndKeepThePreviousImage)
{
    const std::shared_ptr<const FirmwareImage> builtIn = image;
    const std::vector<std::string> invalid = {
        "\n@7200\n01 02\n" + kVectors + "q\n",            // first line blank
        "; comment\n@7200\n01 02\n" + kVectors + "q\n",   // first line a comment
        "@7200\n01 02\nq\n",                              // no vectors
        "@7200\n01 02\n" + kVectors,                      // no end line
        "@\n01 02\n" + kVectors + "q\n",                  // address without number
        "@7200\n01 G7\n" + kVectors + "q\n",              // not hex
        "@7200\n01 ABC\n" + kVectors + "q\n",             // three digits
        "@7200\n1 02\n" + kVectors + "q\n",               // one digit
        "@FE0\n01 02\n" + kVectors + "q\n",               // three-digit address
        "@10000\n01 02\n" + kVectors + "q\n",             // MSP430X address
        "@7200x\n01 02\n" + kVectors + "q\n",             // junk after the address
        "",                                               // empty file
    };
    for (const std::string& text : invalid) {
        EXPECT_EQ(Load(text), result::kNotFirmware) << text;
        EXPECT_EQ(image, builtIn);
    }
    EXPECT_NE(ReadFile(logPath).find("is not a valid TI-Text file ("), std::string::npos);

    // A loaded image survives a failed load, too.
    ASSERT_EQ(Load("@7200\n2C 01\n" + kVectors + "q\n", "QX70-1-03.txt"), 1);
    EXPECT_EQ(Load("@7200\n2C 01\n"), result::kNotFirmware);
    EXPECT_EQ(Image(), "@7200012C");
    EXPECT_STREQ(image->TargetName(), "QX70 1.03");
    EXPECT_EQ(image->TargetType(), 3);
    EXPECT_EQ(image->Version(), 103);

    InputFileStatus problem = InputFileStatus::Ok;
    EXPECT_EQ(FirmwareImage::Load(dir.Path("missing.txt").c_str(), &log, &image, &problem), result::kFirmwareUnreadable);
    EXPECT_EQ(problem, InputFileStatus::NotFound);
    EXPECT_NE(ReadFile(logPath).find("BSLLoadTIFile got error 2 trying to open datafile"), std::string::npos);
    EXPECT_EQ(Image(), "@7200012C");
}

TEST_F(LoadTest, BootloaderAreaIsLeftOutAndSectionsAreClassifiedPerWord)
{
    ASSERT_EQ(Load("@FA00\n01 02\n@FE00\n03 04\n" + kVectors + "q\n"), 1);
    EXPECT_EQ(Image(), "@FE000403");

    // Program data running on into the bootloader area and out of it again:
    // nothing between 0xFA00 and 0xFDFF is kept, a new record starts at 0xFE00.
    std::string text = "@F9FC\n";
    for (uint32_t a = 0xF9FC; a < 0xFE04; a += 2)
        text += "AA BB\n";
    ASSERT_EQ(Load(text + kVectors + "q\n"), 1);
    EXPECT_EQ(Image(), "@F9FCBBAABBAA@FE00BBAABBAA");

    // One section from 0xFE00 through the vectors, as srec_cat writes it.
    // It runs on past 0xFFFF, too: those words are stored nowhere.
    std::vector<std::string> bytes = {"01", "02", "03", "04"};
    for (int i = 0; i < 15; ++i)
        bytes.insert(bytes.end(), {"11", "22"});
    bytes.insert(bytes.end(), {"00", "72", "33", "44"});
    text = "@FFDC\n";
    for (size_t i = 0; i < bytes.size(); ++i)
        text += bytes[i] + ((i % 16 == 15 || i + 1 == bytes.size()) ? "\n" : " ");
    ASSERT_EQ(Load(text + "q\n"), 1);
    EXPECT_EQ(Image(), "@FFDC02010403");
    EXPECT_EQ(image->Vectors()[0], 0x2211u);
    EXPECT_EQ(image->Vectors()[15], 0x7200u);

    // Vectors from 0xFFE0 with 32 bytes fill all 16 entries.
    ASSERT_EQ(Load("@7200\n01 02\n" + kVectors + "q\n"), 1);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(image->Vectors()[i], 0x1100u + 2 * i);
}

TEST_F(LoadTest, OnlyTheFirstSixteenBytesOfALineCount)
{
    ASSERT_EQ(Load("@1100\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11\n" + kVectors + "q\n"), 1);
    EXPECT_EQ(Image(), "@1100010003020504070609080B0A0D0C0F0E");
}

TEST_F(LoadTest, OneByteLinesCannotOverflowTheImage)
{
    // Each "AB\n" (3 characters) becomes 4 image characters.
    std::string text = "@1100\n";
    for (int i = 0; i < 5000; ++i)
        text += "AB\n";
    ASSERT_EQ(Load(text + "@FFFE\n00 72\nq"), 1);
    EXPECT_EQ(image->Length(), 5u + 4 * 5000);
    EXPECT_EQ(Image().substr(0, 13), "@1100FFABFFAB");
}

// The host writes the image it is handed; the built-in one unless told.
TEST(BuiltInImage, IsTheR7F352FirmwareFileOfTheBuild)
{
    const std::shared_ptr<const FirmwareImage> builtIn = FirmwareImage::BuiltIn();
    EXPECT_EQ(FirmwareImage::BuiltIn(), builtIn);  // one object, shared
    EXPECT_TRUE(builtIn->IsBuiltIn());
    MemoryLine line;
    EXPECT_EQ(KeloBSLHost(line, nullptr).Image(), builtIn);
    EXPECT_EQ(builtIn->Length(), 56334u);
    EXPECT_STREQ(builtIn->TargetName(), "Series 7F 3.52");
    EXPECT_EQ(builtIn->TargetType(), 12);
    EXPECT_EQ(std::string(builtIn->Text(), 5), "@7200");
    EXPECT_EQ(builtIn->Vectors()[15], 0x7200u);  // reset starts at the identity header

    // The constant is the firmware file, as the loader reads it.
    std::shared_ptr<const FirmwareImage> loaded;
    ASSERT_EQ(FirmwareImage::Load(KELO_SOURCE_DIR "/firmware/R7F-3-52.txt", nullptr, &loaded), 1);
    ASSERT_EQ(loaded->Length(), builtIn->Length());
    EXPECT_EQ(std::memcmp(loaded->Text(), builtIn->Text(), builtIn->Length()), 0);
    EXPECT_EQ(std::memcmp(loaded->Vectors(), builtIn->Vectors(), 16 * sizeof(uint32_t)), 0);
    EXPECT_EQ(loaded->Version(), 352);
    EXPECT_NE(std::string(builtIn->Text(), builtIn->Length()).find("@FE00"), std::string::npos);

    std::vector<uint8_t> memory;
    ASSERT_TRUE(DecodeImage(builtIn->Text(), builtIn->Length(), &memory));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&memory[0x7200]), 12), std::string("KELOR7F 3.52"));
}

TEST(FirmwareTargetTest, FileNameRules)
{
    FirmwareTarget t = FirmwareTarget::FromPath("C:\\fw\\R7F-3-52.txt");
    EXPECT_STREQ(t.name, "R7F 3.52");
    EXPECT_EQ(t.type, 12);
    EXPECT_EQ(t.version, 352);

    t = FirmwareTarget::FromPath("/home/me/r7f_3-52.txt");
    EXPECT_STREQ(t.name, "r7f_3 52");
    EXPECT_EQ(t.type, 12);
    EXPECT_EQ(t.version, 0);

    t = FirmwareTarget::FromPath("NIVRA-TE-1-00.txt");  // the word ends at its "-"
    EXPECT_STREQ(t.name, "NIVRA TE.1-00");
    EXPECT_EQ(t.type, 0);

    t = FirmwareTarget::FromPath("wn-2-1.a.txt");  // cut at the last "."; missing digit counts 0
    EXPECT_STREQ(t.name, "wn 2.1.a");
    EXPECT_EQ(t.type, 9);
    EXPECT_EQ(t.version, 210);

    t = FirmwareTarget::FromPath("ABCDEFGHIJKLMNOPQRSTUVWXYZ-1-23456789.txt");
    EXPECT_STREQ(t.name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ 1.234");  // 32 characters at most
    EXPECT_FALSE(t.versionKnown);  // the version comes from the whole name, and 23456789 is no minor

    t = FirmwareTarget::FromPath("TELSO-1-18");
    EXPECT_STREQ(t.name, "TELSO 1.18");
    EXPECT_EQ(t.type, 6);
    EXPECT_EQ(t.version, 118);

    // The version's fields are read whole; what does not read as one gives no version, never a wrong one.
    const struct {
        const char* path;
        int version;  // -1: unknown
    } versions[] = {
        {"R7F-13-52.txt", 1352}, {"R7F-3-52.txt", 352}, {"R7F-3-5.txt", 350}, {"R7F-3-05.txt", 305},
        {"/fw/R7F-10-00.txt", 1000}, {"R7F-3-52-test.txt", 352}, {"R7F-3.52.txt", -1},
        {"R7F-x3-52.txt", -1}, {"R7F--52.txt", -1}, {"R7F-3-.txt", -1}, {"R7F-3-520.txt", -1},
        {"R7F-+3-52.txt", -1}, {"R7F-99999-52.txt", -1}, {"R7F-3-x52.txt", -1},
    };
    for (const auto& v : versions) {
        SCOPED_TRACE(v.path);
        t = FirmwareTarget::FromPath(v.path);
        EXPECT_EQ(t.versionKnown, v.version >= 0);
        EXPECT_EQ(t.version, v.version >= 0 ? v.version : 0);
    }
}

}  // namespace
