// A read-only look at the device on a port: what it is, what it runs, and
// whether this build (or a given firmware file) could update it. Nothing is
// written to the device and no settings file is made.
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "AppState.h"
#include "CauseWords.h"
#include "Commands.h"
#include "DeviceTypes.h"
#include "ExitCodes.h"
#include "FirmwareImage.h"
#include "IdentifyDevice.h"
#include "InstrumentInfo.h"
#include "Kelo_protocol.h"

namespace {

struct Verdict {
    bool canUpdate = false;
    std::string why;
};

Verdict Judge(const DeviceIdentity& id, bool inLoader, int battery, int8_t targetType, uint32_t targetVersion,
              const std::string& image)
{
    if (inLoader)
        return {true, "yes: an update with " + image + " finishes the interrupted one"};
    if (id.type == device_type::kUnknown)
        return {false, "no: the device's version line names no device type this updater knows"};
    if (id.type != targetType)
        return {false, std::string("no: ") + image + " is for a " + DeviceTypeName(targetType)};
    if (!id.supported)
        return {false, "no: this updater cannot replace firmware " + VersionText(id.versionNumber)};
    if (battery >= 0 && battery < 10)
        return {false, "no: the battery is at " + std::to_string(battery) + "%; the update needs at least 10%"};
    // 0: the file's name gives no version, so nothing is known to be older.
    if (targetVersion != 0 && id.versionNumber > targetVersion)
        return {true, "yes, after the question \"Newer Firmware\": the device runs " +
                          VersionText(id.versionNumber) + ", " + image + " is older"};
    return {true, "yes, to " + image};
}

}  // namespace

int RunInfoCommand(const InfoArgs& args)
{
    std::shared_ptr<const FirmwareImage> file;
    std::string image = std::string(DeviceTypeModelWord(BuildTarget::kDeviceType)) + " " +
                        VersionText(BuildTarget::kVersion) + " (built-in image)";
    uint32_t targetVersion = BuildTarget::kVersion;
    if (!args.firmware.empty()) {
        int loaded = FirmwareImage::Load(args.firmware.c_str(), nullptr, &file);
        if (loaded < 0) {
            std::cerr << "kelobsl-cli: " << args.firmware << ": " << FirmwareFileProblem(loaded, args.firmware)
                      << ".\n";
            return exit_code::kUsage;
        }
        image = std::string(file->TargetName()) + " (" + args.firmware + ")";
        targetVersion = static_cast<uint32_t>(file->Version());
    }
    const int8_t targetType = file ? file->TargetType() : BuildTarget::kDeviceType;

    Kelo_protocol instrument(nullptr);
    const DeviceReading reading = IdentifyDevice(instrument, args.port);
    const DeviceIdentity& id = reading.identity;
    const int connected = reading.connectResult;
    const bool inLoader = reading.inLoader;
    if (connected < 0 && !inLoader && connected != result::kCannotUpdate) {
        std::string port = PortProblem(connected, args.port);
        std::string cause = "No connection: " + (port.empty() ? LineCause(connected) + "." : port);
        if (args.json)
            std::cout << nlohmann::json{{"port", args.port}, {"code", connected}, {"error", cause}}.dump() << '\n';
        else
            std::cerr << cause << '\n';
        return exit_code::kNoConnection;
    }
    const std::string& sn = reading.serialNumber;
    const bool snRead = reading.serialNumberRead;
    const int battery = reading.battery;

    const Verdict verdict = Judge(id, inLoader, battery, targetType, targetVersion, image);
    const int exitCode = verdict.canUpdate ? exit_code::kSuccess : exit_code::kWrongDevice;
    const bool hasBattery = DeviceTypeInfo(id.type).checkBattery;
    if (args.json) {
        nlohmann::json out{{"port", args.port},
                           {"inFirmwareLoader", inLoader},
                           {"deviceType", id.type},
                           {"deviceName", id.type ? nlohmann::json(id.displayName) : nlohmann::json(nullptr)},
                           {"version", id.versionText[0] ? nlohmann::json(id.versionText) : nlohmann::json(nullptr)},
                           {"serialNumber", sn.empty() ? nlohmann::json(nullptr) : nlohmann::json(sn)},
                           {"battery", battery >= 0 ? nlohmann::json(battery) : nlohmann::json(nullptr)},
                           {"canUpdate", verdict.canUpdate},
                           {"why", verdict.why}};
        std::cout << out.dump() << '\n';
        return exitCode;
    }
    std::cout << "Port:             " << args.port << '\n';
    if (inLoader) {
        std::cout << "Firmware loader:  yes: the device is in its firmware loader (an update was interrupted)\n";
    } else {
        std::cout << "Device type:      " << static_cast<int>(id.type) << " (" << id.displayName << ")\n"
                  << "Firmware:         " << id.versionText << '\n'
                  << "Serial number:    " << (!snRead ? "(not read)" : sn.empty() ? "(none set)" : sn) << '\n';
        if (hasBattery)
            std::cout << "Battery:          " << (battery >= 0 ? std::to_string(battery) + "%" : "(not read)") << '\n';
        std::cout << "Firmware loader:  no\n";
    }
    std::cout << "Can update:       " << verdict.why << '\n';
    return exitCode;
}
