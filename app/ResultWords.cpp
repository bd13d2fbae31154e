#include "ResultWords.h"

namespace {

std::string WithCode(const char* words, int code)
{
    return std::string(words) + " (" + std::to_string(code) + ")";
}

}  // namespace

std::string LineCause(int code)
{
    switch (code) {
    case -2: return WithCode("no such port", code);
    case -5: return WithCode("the port is in use by another program", code);
    case -12: return WithCode("the device refused to store the value", code);
    case -13: return WithCode("this user may not open the port", code);
    case -20: return WithCode("no answer from the device", code);
    case -21: return WithCode("the line went silent", code);
    case -22: return WithCode("no usable answer from the device after all tries", code);
    case -24: return WithCode("the device's answer came too slowly or was cut short", code);
    case -25: return WithCode("the device refused the service login", code);
    case -30: return WithCode("the device's answer could not be understood", code);
    case -35: return WithCode("not every setting could be read or written", code);
    case -37: return WithCode("the device's name could not be checked before its data erase", code);
    case -40: return WithCode("stopped by Ctrl+C or a Cancel answer", code);
    case -65: return WithCode("the device's data memory reports errors", code);
    case -80:
    case -81: return WithCode("the device is in its firmware loader", code);
    case -100: return WithCode("not a valid firmware file", code);
    case -102: return WithCode("no settings file", code);
    case -103: return WithCode("a settings file of an unfinished update must be settled first", code);
    case -104: return WithCode("the settings file is incomplete for its device type", code);
    case -108: return WithCode("another update running now holds the settings file", code);
    case -105:
    case -106: return WithCode("the settings file could not be read", code);
    case -107: return WithCode("the settings could not be saved safely", code);
    case -110: return WithCode("the firmware loader did not answer", code);
    case -112: return WithCode("the device has no working firmware loader", code);
    case -120: return WithCode("this build cannot update the device's firmware", code);
    case -121: return WithCode("a different device type was found", code);
    case -122: return WithCode("the device does not run the firmware just written", code);
    case -130: return WithCode("the batteries are too low", code);
    case -131: return WithCode("the battery level could not be read", code);
    default: break;
    }
    if (code == -1)
        return WithCode("the device reported a failure", code);
    if (code <= -31 && code >= -34)
        return WithCode("the device's command interpreter answered oddly", code);
    return WithCode("system error", code);
}

std::string VersionText(uint32_t versionNumber)
{
    return std::to_string(versionNumber / 100) + "." + std::to_string(versionNumber / 10 % 10) +
           std::to_string(versionNumber % 10);
}
