#include "UnfinishedUpdates.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "DurableFile.h"
#include "SettingsArchive.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".settings.txt";

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// A record holds one value per line: line ends inside a value would split it.
std::string OneLine(std::string value)
{
    std::replace_if(value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return value;
}

std::string ValueOf(const std::string& text, const std::string& key)
{
    const std::string start = key + "=";
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(at, start.size(), start) == 0)
            return text.substr(at + start.size(), end - at - start.size());
        at = end + 1;
    }
    return {};
}

// Writes text to path so that it is either all there or the old file stays.
std::string WriteDurably(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return "cannot create " + temporary + ": " + std::strerror(errno);
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int error = written ? 0 : errno;
    if (const int32_t flushed = written ? FlushFileToDisk(file) : 1; flushed <= 0) {
        written = false;
        error = -flushed;
    }
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::remove(temporary.c_str());
        return "cannot write " + temporary + ": " + std::strerror(error ? error : EIO);
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        return "cannot rename " + temporary + " to " + path + ": " + ec.message();
    }
    FlushFolderOf(path.c_str());
    return {};
}

}  // namespace

PortName NameOfPort(const std::string& given)
{
    PortName name;
    name.given = given;
    name.resolved = given;
    std::error_code ec;
    name.link = fs::is_symlink(given, ec);
    const fs::path real = fs::canonical(given, ec);
    if (!ec)
        name.resolved = real.string();
    return name;
}

bool SamePort(const UnfinishedUpdate& update, const PortName& port)
{
    if (!update.recorded)
        return false;
    if (update.portIsLink && port.link)
        return update.port == port.given;
    if (update.portIsLink) {
        // Saved by its adapter's name, now given as a device node: the name
        // tells where that adapter is now.
        const PortName now = NameOfPort(update.port);
        return now.link && now.resolved == port.resolved;
    }
    return !update.resolvedPort.empty() && update.resolvedPort == port.resolved;
}

namespace unfinished {

std::string RecordPath(const std::string& file)
{
    return file + ".update";
}

std::string LockPath(const std::string& file)
{
    return file + ".lock";
}

std::string Open(const UnfinishedUpdate& update)
{
    std::string text = "# An unfinished update: the settings file beside this record waits to go back into the\n"
                       "# instrument named here. Delete neither while the instrument has not got them back.\n";
    text += "device=" + OneLine(update.device) + "\n";
    text += "sn=" + OneLine(update.serialNumber) + "\n";
    text += "port=" + OneLine(update.port) + "\n";
    text += "resolved=" + OneLine(update.resolvedPort) + "\n";
    text += std::string("link=") + (update.portIsLink ? "1" : "0") + "\n";
    text += std::string("ports=") + (update.severalPorts ? "several" : "one") + "\n";
    text += "saved=" + std::to_string(static_cast<long long>(update.saved)) + "\n";
    text += "archive=" + OneLine(update.archive) + "\n";
    return WriteDurably(RecordPath(update.file), text);
}

void End(const std::string& file)
{
    std::remove(file.c_str());
    std::remove(RecordPath(file).c_str());
}

UnfinishedUpdate Read(const std::string& file, const std::string& device)
{
    UnfinishedUpdate update;
    update.file = file;
    update.device = device;
    const SettingsFileFacts facts = SettingsArchive::ReadFacts(file);
    update.serialNumber = facts.serialNumber;
    update.saved = facts.saved;
    std::ifstream in(RecordPath(file), std::ios::binary);
    if (!in)
        return update;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (ValueOf(text, "device") != device)
        return update;  // not a record this program wrote for this name: the file's own word counts
    update.recorded = true;
    update.serialNumber = ValueOf(text, "sn");
    update.port = ValueOf(text, "port");
    update.resolvedPort = ValueOf(text, "resolved");
    update.portIsLink = ValueOf(text, "link") == "1";
    update.severalPorts = ValueOf(text, "ports") == "several";
    update.archive = ValueOf(text, "archive");
    const std::string saved = ValueOf(text, "saved");
    char* end = nullptr;
    const long long when = std::strtoll(saved.c_str(), &end, 10);
    if (!saved.empty() && end && *end == '\0')
        update.saved = static_cast<std::time_t>(when);
    return update;
}

std::vector<UnfinishedUpdate> OfDevice(const std::string& folder, const std::string& device)
{
    std::vector<UnfinishedUpdate> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!EndsWith(name, kSuffix) || !it->is_regular_file(ec))
            continue;
        if (name != device + kSuffix && !StartsWith(name, device + "-") && !StartsWith(name, device + " ("))
            continue;
        found.push_back(Read(it->path().string(), device));
    }
    std::sort(found.begin(), found.end(),
              [](const UnfinishedUpdate& a, const UnfinishedUpdate& b) { return a.saved < b.saved; });
    return found;
}

std::string NumberedName(const std::string& base, int n)
{
    if (n <= 1 || !EndsWith(base, kSuffix))
        return base;
    return base.substr(0, base.size() - std::strlen(kSuffix)) + " (" + std::to_string(n) + ")" + kSuffix;
}

}  // namespace unfinished

LoaderMatch MatchInLoader(const std::vector<UnfinishedUpdate>& candidates, const PortName& port, std::size_t* which)
{
    if (candidates.empty())
        return LoaderMatch::NothingToRestore;
    const UnfinishedUpdate& only = candidates.front();
    if (candidates.size() == 1 && !only.severalPorts && SamePort(only, port)) {
        *which = 0;
        return LoaderMatch::Restore;
    }
    return LoaderMatch::Ask;
}
