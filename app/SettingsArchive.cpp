#include "SettingsArchive.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "DurableFile.h"
#include "TimeSplit.h"
#include "Kelo_protocol.h"

namespace fs = std::filesystem;

namespace {

// A serial number comes from the device: keep it from naming another folder.
std::string FileNamePart(const std::string& serialNumber)
{
    if (serialNumber.empty())
        return "no-sn";
    std::string part;
    for (unsigned char c : serialNumber)
        part += (std::isalnum(c) || c == '-' || c == '_' || c == '.') ? static_cast<char>(c) : '_';
    return part;
}

std::string Format(std::time_t when, const char* format, bool utc)
{
    std::tm parts{};
    utc ? SplitUtc(when, &parts) : SplitLocal(when, &parts);
    char text[32];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

}  // namespace

SettingsArchive::SettingsArchive(std::string dataFolder, std::string deviceName)
    : dataFolder_(std::move(dataFolder)), deviceName_(std::move(deviceName))
{
}

std::string SettingsArchive::UtcStamp(std::time_t when)
{
    return Format(when, "%Y%m%dT%H%M%SZ", true);
}

std::string SettingsArchive::LocalDate(std::time_t when)
{
    return Format(when, "%Y-%m-%d %H:%M", false);
}

EarlierFileOwner OwnerOfEarlierFile(const SettingsFileFacts& earlier, const SettingsFileFacts* reading)
{
    if (!reading)
        return EarlierFileOwner::Unknown;
    if (reading->text == earlier.text)
        return EarlierFileOwner::ThisDevice;
    if (!reading->serialNumber.empty() && !earlier.serialNumber.empty() &&
        reading->serialNumber != earlier.serialNumber)
        return EarlierFileOwner::AnotherInstrument;
    return EarlierFileOwner::Unknown;
}

SettingsFileFacts SettingsArchive::ReadFacts(const std::string& path)
{
    SettingsFileFacts facts;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return facts;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return facts;
    // A settings file is well under a kilobyte; more than this is not one,
    // and its first part is enough to tell that it differs.
    constexpr std::size_t kMaxText = 64 * 1024;
    facts.text.resize(kMaxText);
    in.read(facts.text.data(), static_cast<std::streamsize>(kMaxText));
    facts.text.resize(static_cast<std::size_t>(in.gcount()));
    facts.exists = true;
    // Keys match at a line's start: "sn" inside another value (a logger's
    // name) is not the serial number.
    char sn[kInstSnSize] = {};
    if (Kelo_protocol::GetTextValue(facts.text.c_str(), "sn", sn, sizeof sn))
        facts.serialNumber = sn;
    auto written = fs::last_write_time(path, ec);
    if (!ec)
        facts.saved = std::chrono::system_clock::to_time_t(
            std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(written)));
    return facts;
}

std::string SettingsArchive::Folder() const
{
    return (fs::path(dataFolder_) / "archive" / deviceName_).string();
}

std::string SettingsArchive::Add(const std::string& file, const std::string& serialNumber, std::time_t when,
                                 std::string* error) const
{
    std::error_code ec;
    fs::create_directories(Folder(), ec);
    if (ec && !fs::is_directory(Folder())) {
        *error = "cannot create " + Folder() + ": " + ec.message();
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::string text;
    if (in) {
        constexpr std::size_t kMaxText = 64 * 1024;  // far more than any settings file
        text.resize(kMaxText);
        in.read(text.data(), static_cast<std::streamsize>(kMaxText));
        text.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (!in && !in.eof()) {
        *error = "cannot read " + file;
        return {};
    }
    const std::string base = FileNamePart(serialNumber) + "-" + UtcStamp(when);
    const auto target = [&](int n) {
        return (fs::path(Folder()) / (base + (n == 1 ? "" : "-" + std::to_string(n)) + ".settings.txt")).string();
    };
    // The copy is written whole under a temporary name and flushed before it
    // takes its name: a full disk leaves no empty or partial copy behind.
    DurableFile copy;
    int32_t result = copy.Open(target(1).c_str());
    if (result > 0 && std::fwrite(text.data(), 1, text.size(), copy.File()) != text.size())
        result = errno > 0 ? -errno : -EIO;
    if (result < 0) {
        *error = "cannot write the archive copy " + target(1) + ": " + DurableFile::ErrorText(result) + " (error " +
                 std::to_string(-result) + ")";
        return {};
    }
    // Only a name taken already moves on to the next number: the archive is
    // never overwritten, and two saves of the same second (several ports)
    // take two names.
    for (int n = 1; n < 1000; ++n) {
        result = copy.Commit(target(n).c_str(), false);
        if (result > 0)
            return target(n);
        if (result != -EEXIST) {
            *error = "cannot write the archive copy " + target(n) + ": " + DurableFile::ErrorText(result) +
                     " (error " + std::to_string(-result) + ")";
            return {};
        }
    }
    *error = "too many archived settings files named " + base;
    return {};
}

std::string SettingsArchive::MoveIn(const std::string& file, const std::string& serialNumber, std::time_t when,
                                    std::string* error) const
{
    std::string archived = Add(file, serialNumber, when, error);
    if (!archived.empty())
        std::remove(file.c_str());
    return archived;
}
