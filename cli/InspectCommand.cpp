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
#include "KeloBSLHost.h"
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
    KeloBSLHost host(nullptr);
    // Without a file the host keeps the built-in image.
    const bool builtIn = file.empty();
    int result = builtIn ? 1 : host.BSLLoadTIFile(file.c_str());
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

    std::vector<Record> records = Records(host.ImageText(), host.ImageLength());
    const uint32_t* vectors = host.VectorTable();
    std::string displayName = DeviceTypeName(host.TargetType());

    if (json) {
        auto recs = nlohmann::json::array();
        for (const Record& r : records)
            recs.push_back({{"address", r.address}, {"bytes", r.bytes}});
        auto vecs = nlohmann::json::array();
        for (uint32_t i = 0; i < KeloBSLHost::kVectorCount; ++i)
            vecs.push_back(vectors[i]);
        std::cout << nlohmann::json{{"file", builtIn ? "(built-in)" : file},
                                    {"demoImage", builtIn && BuiltInImageIsDemo()},
                                    {"target", host.TargetName()},
                                    {"deviceType", host.TargetType()},
                                    {"deviceName", displayName},
                                    {"version", host.ImageVersion()},
                                    {"versionKnown", host.ImageVersionKnown()},
                                    {"imageLength", host.ImageLength()},
                                    {"records", recs},
                                    {"vectors", vecs}}
                         .dump()
                  << '\n';
        return exit_code::kSuccess;
    }

    std::cout << "File:         " << (builtIn ? "(built-in image)" : file) << '\n'
              << "Target:       " << host.TargetName() << '\n'
              << "Device type:  " << static_cast<int>(host.TargetType()) << " (" << displayName << ")\n"
              << "Version:      "
              << (host.ImageVersionKnown() ? std::to_string(host.ImageVersion())
                                           : std::string("unknown (the file name gives none)"))
              << '\n'
              << "Image length: " << host.ImageLength() << " characters of image text\n"
              << "Records:\n";
    for (const Record& r : records)
        std::cout << "  " << Hex(r.address) << "  " << r.bytes << " bytes\n";
    std::cout << "Vectors (0xFFE0..0xFFFE):\n ";
    for (uint32_t i = 0; i < KeloBSLHost::kVectorCount; ++i)
        std::cout << ' ' << Hex(vectors[i]) << (i % 8 == 7 ? "\n " : "");
    std::cout << '\n';
    if (builtIn && BuiltInImageIsDemo())
        std::cout << "Note: the built-in image is a " << texts::DemoImageNote() << ".\n";
    if (host.TargetType() == 0)
        std::cout << "Note: the file name does not name a known device type, so an update refuses this file.\n";
    if (host.TargetType() == 0 || !host.ImageVersionKnown())
        std::cout << "Firmware files are named MODEL-M-mp.txt, for example R7F-3-52.txt (R7F, version 3.52).\n";
    return exit_code::kSuccess;
}
