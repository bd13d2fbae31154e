#include "FirmwareSet.h"

#include <filesystem>
#include <system_error>

#include "DeviceTypes.h"
#include "FirmwareTarget.h"

namespace fs = std::filesystem;

bool FirmwareSet::Add(const std::string& path, std::string* error)
{
    const FirmwareTarget target = FirmwareTarget::FromPath(path.c_str());
    if (target.type == 0) {
        *error = "the name of " + path + " names no device type: firmware files are named like R7F-3-52.txt";
        return false;
    }
    const auto [it, added] = files_.emplace(target.type, path);
    if (!added) {
        *error = std::string("two firmware files for the ") + DeviceTypeName(target.type) + ": " + it->second +
                 " and " + path + "; give one";
        return false;
    }
    return true;
}

bool FirmwareSet::AddFolder(const std::string& folder, std::string* error)
{
    struct Newest {
        int version = -1;
        std::string path;
    };
    std::map<int, Newest> newest;
    std::error_code failure;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
        if (!it->is_regular_file(failure) || it->path().extension() != ".txt")
            continue;
        const std::string path = it->path().string();
        const FirmwareTarget target = FirmwareTarget::FromPath(path.c_str());
        if (target.type == 0 || !target.versionKnown)
            continue;
        Newest& kept = newest[target.type];
        if (target.version > kept.version)
            kept = {target.version, path};
    }
    if (failure) {
        *error = "cannot read the firmware folder " + folder + ": " + failure.message();
        return false;
    }
    if (newest.empty()) {
        *error = "the firmware folder " + folder + " holds no firmware file named like R7F-3-52.txt";
        return false;
    }
    for (const auto& [type, file] : newest)
        if (!Add(file.path, error))
            return false;
    return true;
}

const std::string* FirmwareSet::For(int type) const
{
    const auto it = files_.find(type);
    return it == files_.end() ? nullptr : &it->second;
}
