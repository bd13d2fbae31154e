// An independent reader of TI-Text: srec_cat writes files from random data and
// turns the same files into binary; the loader's image must hold the same bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BslTestSupport.h"

namespace {

bool HaveSrecCat()
{
    return std::system("srec_cat --version >/dev/null 2>&1") == 0;
}

struct Section {
    uint32_t start;
    uint32_t size;
};

void Check(const std::vector<Section>& sections, uint32_t seed)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    std::mt19937 random(seed);
    std::string command = "srec_cat";
    for (size_t i = 0; i < sections.size(); ++i) {
        std::string data(sections[i].size, '\0');
        for (char& c : data)
            c = static_cast<char>(random() & 0xFF);
        std::string path = dir.Write("part" + std::to_string(i) + ".bin", data);
        command += " " + path + " -binary -offset " + std::to_string(sections[i].start);
    }
    const std::string ti = dir.Path("image.txt");
    const std::string bin = dir.Path("image.bin");
    ASSERT_EQ(std::system((command + " -o " + ti + " -ti-txt").c_str()), 0);
    ASSERT_EQ(std::system(("srec_cat " + ti + " -ti-txt -fill 0xFF 0 0x10000 -o " + bin + " -binary").c_str()), 0);
    const std::string expected = ReadFile(bin);
    ASSERT_EQ(expected.size(), 0x10000u);

    std::shared_ptr<const FirmwareImage> image;
    ASSERT_EQ(FirmwareImage::Load(ti.c_str(), nullptr, &image), 1) << ReadFile(ti).substr(0, 300);
    std::vector<uint8_t> memory;
    ASSERT_TRUE(DecodeImage(image->Text(), image->Length(), &memory));
    for (uint32_t a = 0; a < 0xFFE0; ++a) {
        if (a >= 0xFA00 && a < 0xFE00) {
            ASSERT_EQ(memory[a], 0xFF) << "bootloader area written at " << std::hex << a << " " << std::string(image->Text(), 30);
            continue;
        }
        ASSERT_EQ(memory[a], static_cast<uint8_t>(expected[a])) << "address " << std::hex << a;
    }
    for (uint32_t v = 0; v < 16; ++v) {
        uint32_t word = static_cast<uint8_t>(expected[0xFFE0 + 2 * v]) |
                        static_cast<uint8_t>(expected[0xFFE1 + 2 * v]) << 8;
        ASSERT_EQ(image->Vectors()[v], word) << "vector " << v;
    }
}

TEST(TITextOracle, RandomImagesDecodeAsSrecCatReadsThem)
{
#if defined(_WIN32)
    GTEST_SKIP() << "srec_cat runs in the Linux suite; the loader code is the same";
#endif
    // The oracle is part of the suite: without it the test fails, it is not skipped.
    ASSERT_TRUE(HaveSrecCat()) << "srec_cat (Debian package srecord) is not installed: tools/install-deps.sh";
    // Separate sections, the usual layout of a firmware.
    Check({{0x1100, 0x0400}, {0x7200, 0x1235}, {0xFE00, 0x40}, {0xFFE0, 0x20}}, 1);
    // One block from 0x1100 to the end: runs across the bootloader area,
    // 0xFE00 and into the vectors.
    Check({{0x1100, 0x10000 - 0x1100}}, 2);
    // Random sections at even addresses (odd sizes too), always with the reset vector.
    std::mt19937 random(3);
    for (int round = 0; round < 5; ++round) {
        std::vector<Section> sections;
        uint32_t address = 0x1000 + 2 * (random() % 0x200);
        while (address < 0xFF00) {
            uint32_t size = 1 + random() % 0x1800;
            if (address + size > 0xFFDE)
                size = 0xFFDE - address;
            sections.push_back({address, size});
            address = (address + size + 2 + random() % 0x800) & ~1u;
        }
        sections.push_back({0xFFFE, 2});
        Check(sections, 10 + round);
    }
}

}  // namespace
