// What a firmware file's name says about its target: "R7F-3-52.txt" is for
// the R7F (device type 12), shown as "R7F 3.52", version 352.
#pragma once

#include <cstdint>

struct FirmwareTarget {
    static constexpr uint32_t kNameSize = 33;

    char name[kNameSize] = {};
    int8_t type = 0;
    int version = 0;
    // The name gives a version: a second "-" between a whole major and a
    // minor of one or two digits ("R7F-13-52" is 1352). "R7F-3.52" gives
    // none and reads as version 0, which no caller may compare with a device's.
    bool versionKnown = false;

    // The name is taken after the last folder separator ("\" or "/").
    static FirmwareTarget FromPath(const char* path);
};
