#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CauseWords.h"
#include "Commands.h"
#include "DeviceTypes.h"
#include "ExitCodes.h"
#include "AppState.h"
#include "InputFile.h"
#include "FirmwareImage.h"
#include "UpdateTexts.h"

namespace {

struct Record {
    unsigned address;
    std::size_t bytes;
};

// The compact image text is "@AAAA" followed by four hex digits per word, up
// to the next "@".
std::vector<Record> Records(const char* text, std::size_t length)
{
    std::vector<Record> records;
    std::size_t i = 0;
    while (i < length) {
        if (text[i] != '@' || i + 5 > length)
            break;
        Record record{static_cast<unsigned>(std::strtoul(std::string(text + i + 1, 4).c_str(), nullptr, 16)), 0};
        i += 5;
        std::size_t start = i;
        while (i < length && text[i] != '@')
            ++i;
        record.bytes = (i - start) / 2;
        records.push_back(record);
    }
    return records;
}

std::string Hex(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string BaseName(const std::string& path)
{
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunInspectCommand(const std::string& file, bool json)
{
    // Without a file: the built-in image.
    const bool builtIn = file.empty();
    std::shared_ptr<const FirmwareImage> image = FirmwareImage::BuiltIn();
    int result = builtIn ? 1 : FirmwareImage::Load(file.c_str(), nullptr, &image);
    if (result < 0) {
        std::string why = FirmwareFileProblem(result, file);
        if (json)
            std::cout << nlohmann::json{{"file", builtIn ? "(built-in)" : file},
                                    {"demoImage", builtIn && BuiltInImageIsDemo()}, {"error", why}, {"code", result}}.dump() << '\n';
        else
            std::cerr << "kelobsl-cli: \"" << BaseName(file) << "\" " << (result == result::kNotFirmware ? "is " : "could not be read: ")
                      << why << ".\n";
        return exit_code::kUsage;
    }

    const FirmwareImage& loaded = *image;
    std::vector<Record> records = Records(loaded.Text(), loaded.Length());
    const uint32_t* vectors = loaded.Vectors();
    std::string displayName = DeviceTypeName(loaded.TargetType());

    if (json) {
        auto recs = nlohmann::json::array();
        for (const Record& r : records)
            recs.push_back({{"address", r.address}, {"bytes", r.bytes}});
        auto vecs = nlohmann::json::array();
        for (uint32_t i = 0; i < FirmwareImage::kVectorCount; ++i)
            vecs.push_back(vectors[i]);
        std::cout << nlohmann::json{{"file", builtIn ? "(built-in)" : file},
                                    {"demoImage", builtIn && BuiltInImageIsDemo()},
                                    {"target", loaded.TargetName()},
                                    {"deviceType", loaded.TargetType()},
                                    {"deviceName", displayName},
                                    {"version", loaded.Version()},
                                    {"versionKnown", loaded.VersionKnown()},
                                    {"imageLength", loaded.Length()},
                                    {"records", recs},
                                    {"vectors", vecs}}
                         .dump()
                  << '\n';
        return exit_code::kSuccess;
    }

    std::cout << "File:         " << (builtIn ? "(built-in image)" : file) << '\n'
              << "Target:       " << loaded.TargetName() << '\n'
              << "Device type:  " << static_cast<int>(loaded.TargetType()) << " (" << displayName << ")\n"
              << "Version:      "
              << (loaded.VersionKnown() ? std::to_string(loaded.Version())
                                           : std::string("unknown (the file name gives none)"))
              << '\n'
              << "Image length: " << loaded.Length() << " characters of image text\n"
              << "Records:\n";
    for (const Record& r : records)
        std::cout << "  " << Hex(r.address) << "  " << r.bytes << " bytes\n";
    std::cout << "Vectors (0xFFE0..0xFFFE):\n ";
    for (uint32_t i = 0; i < FirmwareImage::kVectorCount; ++i)
        std::cout << ' ' << Hex(vectors[i]) << (i % 8 == 7 ? "\n " : "");
    std::cout << '\n';
    if (builtIn && BuiltInImageIsDemo())
        std::cout << "Note: the built-in image is a " << texts::DemoImageNote() << ".\n";
    if (loaded.TargetType() == 0)
        std::cout << "Note: the file name does not name a known device type, so an update refuses this file.\n";
    if (loaded.TargetType() == 0 || !loaded.VersionKnown())
        std::cout << "Firmware files are named MODEL-M-mp.txt, for example R7F-3-52.txt (R7F, version 3.52).\n";
    return exit_code::kSuccess;
}
