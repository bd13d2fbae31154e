// Linux port list: the ttys that have a device behind them in sysfs, each
// with a description from its USB descriptors or driver, checked by a brief
// exclusive open; busy ports stay on the list.
#include "CommPortEnum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <limits.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "KeloLog.h"
#include "KeloSerial.h"
#include "Result.h"
#include "SerialBackend.h"

namespace detail = comm_port_enum_detail;

namespace {

std::string gSysClassTty = "/sys/class/tty";
std::string gDevFolder;  // empty: the back end's /dev

std::string ReadLine(const std::string& path)
{
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "r")) {
        char line[256];
        if (std::fgets(line, sizeof line, f))
            text = line;
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string LinkTarget(const std::string& path)
{
    char target[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    target[n] = '\0';
    return target;
}

std::string Basename(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Walks up from the tty's device to the USB device that carries a product
// string, if there is one.
std::string UsbDescription(const std::string& deviceDir)
{
    std::string dir = deviceDir;
    for (int depth = 0; depth < 4 && !dir.empty(); ++depth) {
        std::string product = ReadLine(dir + "/product");
        if (!product.empty()) {
            std::string maker = ReadLine(dir + "/manufacturer");
            return maker.empty() ? product : maker + " " + product;
        }
        dir = dir.substr(0, dir.find_last_of('/'));
    }
    return {};
}

struct SysPort {
    std::string name;
    std::string description;
};

std::vector<SysPort> SystemPorts()
{
    std::vector<SysPort> ports;
    const std::string& root = gSysClassTty;
    DIR* dir = ::opendir(root.c_str());
    if (!dir)
        return ports;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name[0] == '.')
            continue;
        std::string base = root + "/" + name;
        std::string device = base + "/device";
        std::string driver = Basename(LinkTarget(device + "/driver"));
        if (driver.empty())
            continue;  // virtual consoles and pseudo-terminals have no device
        // The legacy 8250 driver registers ttyS0..31 whether or not a UART is
        // there; only those with a real port type are serial ports.
        if (driver == "serial8250") {
            std::string type = ReadLine(base + "/type");
            if (type.empty() || type == "0")
                continue;
        }
        char resolved[PATH_MAX];
        std::string description;
        if (::realpath(device.c_str(), resolved))
            description = UsbDescription(resolved);
        if (description.empty())
            description = name.rfind("ttyACM", 0) == 0   ? "USB Modem (" + driver + ")"
                          : name.rfind("ttyUSB", 0) == 0 ? "USB Serial Port (" + driver + ")"
                                                         : "Communications Port (" + driver + ")";
        ports.push_back({name, description});
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(), [](const SysPort& a, const SysPort& b) {
        // ttyS2 before ttyS10: shorter names first, then alphabetical
        if (a.name.size() != b.name.size())
            return a.name.size() < b.name.size();
        return a.name < b.name;
    });
    return ports;
}

bool Listable(const char* name)
{
    int error = gDevFolder.empty() ? serial_backend::Probe(name)
                                   : serial_backend::Probe((gDevFolder + "/" + name).c_str());
    return error == 0 || error == serial_backend::kErrorInUse;
}

}  // namespace

void comm_port_enum_detail::SetSystemRoots(const char* sysClassTty, const char* devFolder)
{
    gSysClassTty = sysClassTty ? sysClassTty : "/sys/class/tty";
    gDevFolder = devFolder ? devFolder : "";
}

int CommPortEnum(KeloSerial* serial, CommPortEntry* entries, int* count, bool findAll)
{
    if (!entries || !count)
        return result::kBadArgument;
    if (*count <= 0)
        return result::kOutOfRange;
    const int capacity = *count;
    std::memset(entries, 0, sizeof(CommPortEntry) * static_cast<std::size_t>(capacity));
    *count = 0;

    for (const SysPort& port : SystemPorts()) {
        if (*count >= capacity)
            break;
        if (detail::Contains(entries, *count, port.name.c_str()) || !Listable(port.name.c_str()))
            continue;
        detail::SetEntry(&entries[(*count)++], port.name.c_str(), port.description.c_str());
    }

    if (findAll) {
        static const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
        std::vector<std::string> probed;
        for (const char* family : kFamilies) {
            for (int i = 0; i < 16; ++i) {
                std::string name = family + std::to_string(i);
                if (Listable(name.c_str()))
                    probed.push_back(name);
            }
        }
        // As on Windows: only when the probe found more than the list holds.
        if (static_cast<int>(probed.size()) > *count) {
            for (const std::string& name : probed) {
                if (*count >= capacity)
                    break;
                if (detail::Contains(entries, *count, name.c_str()))
                    continue;
                char text[sizeof entries[0].displayText];
                std::snprintf(text, sizeof text, "%s Comm Port (UKN)", name.c_str());
                CommPortEntry& entry = entries[(*count)++];
                std::snprintf(entry.portName, sizeof entry.portName, "%s", name.c_str());
                std::snprintf(entry.displayText, sizeof entry.displayText, "%s", text);
            }
        }
    }
    (void)serial;  // the system list cannot fail here, so nothing is logged
    return *count;
}

const char* CommPortProbedNames()
{
    return "ttyS0-15, ttyUSB0-15 and ttyACM0-15";
}
