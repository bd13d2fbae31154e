// One line of the update history: what one update attempt did to which
// device, so that a factory can show which instrument got which firmware and
// support can see what happened before a call.
#pragma once

#include <ctime>
#include <string>

struct UpdateRecord {
    std::time_t time = 0;          // when the update started
    std::string port;
    std::string device;            // the type found; empty when none was identified
    std::string serialNumber;      // as read from the device; empty when none was read
    std::string newSerialNumber;   // written by a factory update; empty when none
    std::string oldVersion;        // "3.51"; empty when not read (device in its loader, no answer)
    std::string newVersion;        // the version the update loads; empty when unknown
    int result = 0;                // the workflow's result code: 1 success, negative failure
    std::string words;             // the result in words, with the code
    double seconds = 0;
    std::string settingsArchive;   // the archived settings file the update made; empty when none

    // One JSON object on one line, no line end. Empty texts are written as null.
    std::string ToJson() const;
};

// text as a JSON string with its quotes: quotes, backslashes and control
// characters escaped, bytes that are not UTF-8 replaced by U+FFFD, so that
// any reader can parse the line whatever a device or a port name held.
std::string JsonQuoted(const std::string& text);
// "2026-12-08T11:40:02Z"
std::string IsoUtcTime(std::time_t when);
