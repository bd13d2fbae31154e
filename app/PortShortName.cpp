#include "PortShortName.h"

#include <cctype>
#include <cstring>
#include <filesystem>

#include "PortPath.h"

namespace {

constexpr std::size_t kMaxLength = 64;

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string PortShortName(const std::string& port)
{
    std::string rest = port;
    for (const char* prefix : {"\\\\.\\", "/dev/serial/by-id/", "/dev/serial/by-path/", "/dev/"})
        if (StartsWith(rest, prefix)) {
            rest = rest.substr(std::string(prefix).size());
            break;
        }
    // Outside /dev (a link made for the port) the last part names it.
    if (StartsWith(port, "/") && !StartsWith(port, "/dev/"))
        rest = std::filesystem::path(port).filename().string();

    std::string name;
    for (unsigned char c : rest) {
        if (c == '/' || c == '\\')
            continue;  // "pts/7" -> "pts7"
        name += (std::isalnum(c) || c == '-' || c == '_' || c == '.') ? static_cast<char>(c) : '_';
    }
    while (!name.empty() && name.front() == '.')
        name.erase(0, 1);  // no hidden files, no ".."
    if (name.size() > kMaxLength)
        name.resize(kMaxLength);
    return name.empty() ? "port" : name;
}

std::vector<std::string> PortShortNames(const std::vector<std::string>& ports)
{
    std::vector<std::string> names;
    for (const std::string& port : ports) {
        const std::string base = PortShortName(port);
        std::string name = base;
        for (int n = 2;; ++n) {
            bool taken = false;
            for (const std::string& earlier : names)
                taken = taken || earlier == name;
            if (!taken)
                break;
            name = base + "-" + std::to_string(n);
        }
        names.push_back(name);
    }
    return names;
}

bool SamePort(const std::string& a, const std::string& b)
{
    // By the path each name opens: "ttyS0" and "/dev/ttyS0", "COM10" and
    // "\\.\COM10" are one device.
    return SameDevicePath(PortDevicePath(a), PortDevicePath(b));
}
