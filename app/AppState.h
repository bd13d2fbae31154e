// The state of one updater run: what the workflow works with (the device,
// its protocol objects, the log and files); the request says what to do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BuiltInImage.h"
#include "CommPortEnum.h"
#include "DeviceTypes.h"
#include "KeloBSLHost.h"
#include "KeloLog.h"
#include "KeloSerial.h"
#include "Kelo_protocol.h"

// What this build updates: the built-in image's target.
struct BuildTarget {
    static constexpr int8_t kDeviceType = kBuiltInTargetType;  // Hydrova Series 3
    static constexpr const char* kLabel = kBuiltInTargetName;
    static constexpr uint32_t kVersion = kBuiltInImageVersion;
    // The demonstration image boots only in kelosim: a front end says so and
    // does not write it to a device unless asked to.
    static constexpr bool kDemoImage = kBuiltInImageIsDemo;
};

// Whether the built-in image is the demonstration one.
constexpr bool BuiltInImageIsDemo()
{
    return BuildTarget::kDemoImage;
}

// Progress-bar points per upload progress call: the upload climbs about 69
// points whatever the image's length.
inline float UploadProgressRatio(uint32_t imageLength)
{
    return imageLength ? 35328.0f / static_cast<float>(imageLength) : 0.0f;
}

struct AppState {
    std::string deviceName;
    std::string caption;             // set once at start-up: "<device> Firmware Updater"
    std::string dataFolder;
    // In a run that updates several ports: the port's short name, added to
    // the settings file's and the log's names so that no two share a file.
    std::string fileTag;
    std::string settingsFilePath;
    std::string logFilePath;
    bool verboseLog = false;
    bool repMode = false;
    bool factoryMode = false;
    bool updating = false;
    bool keepGoing = true;
    bool settingsMissing = false;
    DeviceIdentity deviceIdentity = {};
    uint32_t targetVersion = BuildTarget::kVersion;
    int eraseProgressStep = 1;
    float uploadProgressRatio = UploadProgressRatio(kBuiltInImageLength);
    float uploadProgressPosition = 0.0f;

    // Created in this order, destroyed in reverse: the log outlives the rest.
    std::unique_ptr<KeloLog> log;
    std::unique_ptr<KeloSerial> portEnumerator;
    std::unique_ptr<KeloSerial> port;  // lent to the instrument's protocol and the bootloader host
    std::unique_ptr<Kelo_protocol> instrument;
    std::unique_ptr<KeloBSLHost> bootloader;
};
