// Exit codes of kelobsl-cli; scripts and factory lines rely on them.
#pragma once

namespace exit_code {
constexpr int kSuccess = 0;
constexpr int kUpdateFailed = 1;     // anything not named below
constexpr int kUsage = 2;            // bad usage or an invalid firmware file
constexpr int kNoConnection = 3;     // no connection to the device or its loader
constexpr int kWrongDevice = 4;      // wrong, unsupported or too-old device, no working loader, batteries too low
constexpr int kDeviceFailure = 5;    // settings save, erase, upload, firmware-check or data-erase failure
constexpr int kCancelled = 6;        // the person (or a safe default answer) stopped the update
constexpr int kSettingsNotRestored = 7;  // firmware updated, settings not (fully) restored; the file is kept
}  // namespace exit_code
