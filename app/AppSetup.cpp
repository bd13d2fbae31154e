#include "AppSetup.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "DeviceTypes.h"

namespace fs = std::filesystem;

namespace {

std::string Tagged(const std::string& name, const std::string& tag)
{
    return tag.empty() ? name : name + "-" + tag;
}

// "run.log" -> "run-ttyUSB0.log": one log per port.
std::string TaggedPath(const std::string& path, const std::string& tag)
{
    std::error_code ec;
    // --log /dev/null stays itself.
    if (tag.empty() || (fs::exists(path, ec) && !fs::is_regular_file(path, ec)))
        return path;
    fs::path p(path);
    return (p.parent_path() / (Tagged(p.stem().string(), tag) + p.extension().string())).string();
}

}  // namespace

std::string SettingsFilePath(const AppState& state)
{
    return (fs::path(state.dataFolder) / (Tagged(state.deviceName, state.fileTag) + ".settings.txt")).string();
}

std::string OnePortSettingsFilePath(const AppState& state)
{
    if (state.fileTag.empty())
        return {};
    return (fs::path(state.dataFolder) / (state.deviceName + ".settings.txt")).string();
}

bool SetUpAppState(AppState& state, const SetupOptions& options, std::string* error)
{
    state.repMode = options.repMode || options.factoryMode;
    state.factoryMode = options.factoryMode;
    state.verboseLog = options.verboseLog;
    state.deviceName = DeviceTypeName(BuildTarget::kDeviceType);
    state.caption = state.deviceName + " Firmware Updater";
    state.eraseProgressStep = 1;
    state.uploadProgressRatio = UploadProgressRatio(kBuiltInImageLength);
    state.targetVersion = BuildTarget::kVersion;

    state.dataFolder = options.dataFolder.empty() ? DefaultDataFolder() : options.dataFolder;
    if (state.dataFolder.empty())
        state.dataFolder = ".";  // no home folder: the current one, as the program's own folder would be
    std::error_code ec;
    fs::create_directories(state.dataFolder, ec);
    if (ec && !fs::is_directory(state.dataFolder)) {
        *error = "cannot create the data folder " + state.dataFolder + ": " + ec.message();
        return false;
    }
    state.fileTag = options.fileTag;
    state.logFilePath =
        options.logFilePath.empty()
            ? (fs::path(state.dataFolder) / (Tagged(state.caption, state.fileTag) + ".errors.txt")).string()
            : TaggedPath(options.logFilePath, state.fileTag);
    state.settingsFilePath = SettingsFilePath(state);

    state.log = std::make_unique<KeloLog>(state.logFilePath.c_str(), state.verboseLog ? 30 : 1, false);
    state.portEnumerator = std::make_unique<KeloSerial>(state.log.get());
    state.port = std::make_unique<KeloSerial>(state.log.get());
    state.instrument = std::make_unique<Kelo_protocol>(*state.port, state.log.get());
    state.bootloader = std::make_unique<KeloBSLHost>(*state.port, state.log.get());
    return true;
}

void AdoptFirmware(AppState& state, std::shared_ptr<const FirmwareImage> image)
{
    state.deviceName = DeviceTypeName(image->TargetType());
    state.targetVersion = static_cast<uint32_t>(image->Version());
    state.settingsFilePath = SettingsFilePath(state);
    state.eraseProgressStep = 1;
    state.uploadProgressRatio = UploadProgressRatio(image->Length());
    state.bootloader->SetImage(std::move(image));
}

void CloseAppState(AppState& state)
{
    state.bootloader.reset();
    state.instrument.reset();
    state.port.reset();
    state.portEnumerator.reset();
    // Only an empty log file of our own goes: --log /dev/null must not
    // remove the device node (as root it would).
    std::error_code error;
    if (state.log && state.log->LogFileSize() == 0 &&
        std::filesystem::is_regular_file(state.logFilePath, error))
        std::remove(state.logFilePath.c_str());
    state.log.reset();
}
