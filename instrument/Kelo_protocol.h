// Kelo_protocol: the one object through which the update talks to a device's
// command interpreter, logger or instrument alike. It owns the logger command
// protocol and uses it as its transport, over the serial port it is lent (or,
// for work without a device, a port of its own); on top of it it identifies the device
// from its version line, decides per device type which steps of an update
// apply, and saves and restores the device's settings through a settings file.
// One thread, one operation at a time; results are codes, never exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

#include "DeviceTypes.h"
#include "InstrumentInfo.h"
#include "KeloLog.h"
#include "LoggerRecords.h"
#include "NIVRA_Protocol.h"
#include "Result.h"

class Kelo_protocol {
public:
    static constexpr const char* kTag = "Kelo_protocol";
    static constexpr const char* kAccessCode = "*4827";  // privileged command mode
    static constexpr int kSnMaxLength = kInstSnSize - 1;  // devices keep 15 characters

    // The port must outlive the object.
    Kelo_protocol(KeloSerial& port, KeloLog* log);
    // With a port of its own: settings files, and callers with no port to share.
    explicit Kelo_protocol(KeloLog* log);
    ~Kelo_protocol();
    Kelo_protocol(const Kelo_protocol&) = delete;
    Kelo_protocol& operator=(const Kelo_protocol&) = delete;

    // --- Connection -------------------------------------------------------
    // 1 connected (or the login answer's length), negative code otherwise;
    // -120 when this build cannot update the device or its firmware.
    int32_t QPConnect(const char* portName, uint8_t baudIndex, int32_t retries,
                      DeviceIdentity* identity);
    int32_t QPDisconnect();
    // 1 good firmware, -1 corrupt, -30 unrecognised answer, or the exchange's code.
    int32_t QPCheckFirmware(bool postInit);
    // 1 with the charge in percent (0 to 100); kBatteryUnknown (percent -1)
    // when no answer came, or the answer is no whole number from 0 to 100.
    static constexpr int32_t kBatteryUnknown = result::kBatteryUnknown;
    int32_t QPCheckBattery(int32_t* percent);
    int32_t QPEraseData();
    // 1 (or the logger clock's result) when the clock was set;
    // result::kNotForThisDevice when the type does not keep a clock.
    int32_t QPSetTime();
    // 1 identified; -30 not identified (type 0, "UNKNOWN"); -10 missing argument.
    static int32_t IdentifyDevice(const char* versionLine, DeviceIdentity* identity);

    // --- Settings save and restore ------------------------------------------
    // 1 saved; -35 when a setting of the type's save mask could not be read
    // (no file is written then); -36 uninitialised device;
    // result::kNotForThisDevice no settings; result::kSettingsNotWritten.
    int32_t QPSaveInfo(const char* path);
    // newSn may be null or empty (keep the saved number). A number holding a
    // control character is refused with -11 before anything is sent.
    // Every setting written is read back with the save's read commands and
    // compared (numbers as numbers, texts exactly). 1 only when every setting
    // of the restore went back and reads back equal; -35 when some did not
    // (NotRestoredMask/NotRestoredNames say which); -104 the file lacks keys
    // of its type (MissingKeys), nothing is written and the file stays;
    // -12 the new serial number was not taken; other negative codes as the
    // exchange or the file reader gave them (NotRestoredMask then holds
    // everything that was not verified).
    int32_t QPRestoreInfo(const char* path, const char* newSn);
    int32_t GetInstInfo(uint32_t mask);
    int32_t SetInstInfo(uint32_t mask);
    // 1 when a replacement serial number may be sent; -10 empty; -11 it holds
    // a control character.
    static int32_t CheckNewSerialNumber(const char* sn);
    // Whether value (length bytes, not terminated) is one an instrument keeps
    // for the setting of bit: printable, no prompt, within the field, and of
    // the setting's form (a whole number; four numbers for fvals, uvals and
    // adccal; hexadecimal groups for adc; NAME=VALUE words for config).
    static bool CheckInstValue(uint32_t bit, const char* value, std::size_t length);
    // The value of a "get" answer framed CR [LF] value CR [LF] prompt; false
    // for other framing. The bare prompt gives an empty value.
    static bool ValueOfAnswer(const char* answer, const char** value, std::size_t* length);
    // Settings mask that a save collects for a type; 0 for types without settings.
    static uint32_t SaveMaskOfType(int type);
    // Settings of the last QPRestoreInfo that did not go back (not written,
    // not confirmed, or read back different or not at all), as bits of the
    // type's settings mask; 0 after a complete restore.
    uint32_t NotRestoredMask() const { return notRestoredMask_; }
    // The same as words: "adccal, config"; empty after a complete restore.
    const char* NotRestoredNames() const { return notRestoredNames_; }
    // The settings of mask for a device type, named as in the settings file
    // and separated by ", ", into out (cut to size); the length written.
    static std::size_t SettingNames(int type, uint32_t mask, char* out, std::size_t size);

    // --- Settings file ---------------------------------------------------------
    // Written to a temporary name, flushed to the disk and renamed (see
    // DurableFile): 1, result::kBadArgument no path, or
    // result::kSettingsNotWritten with the system's reason in FileError()
    // and FileSystemError(). Nothing is left behind by a failed write; an
    // earlier file of the name stays as it was.
    int32_t WriteInfoFile(const char* path);
    // Why the last WriteInfoFile (and so QPSaveInfo) could not write its
    // file, in words ("the disk is full; free some space on it and try
    // again"); empty after a successful write.
    const char* FileError() const { return fileError_; }
    // The C error number of the last settings file that could not be written
    // or opened (ENOSPC, EISDIR); 0 when there was none.
    int FileSystemError() const { return fileSystemError_; }
    // 1 read; -104 the file lacks keys its type needs (cut short or
    // damaged): nothing is taken from it, MissingKeys names them, and the
    // file is left as it is; other codes as documented for the reader.
    int32_t ReadInfoFile(const char* path);
    // The keys the last ReadInfoFile found missing or damaged, ", "-separated.
    const char* MissingKeys() const { return missingKeys_; }
    int32_t WriteLoggerSettings(std::FILE* file);
    int32_t WriteInstrumentSettings(std::FILE* file);
    int32_t ReadLoggerSettings(const char* text);
    int32_t ReadInstrumentSettings(const char* text);
    // The quoted value of the first line that starts with key="
    // (key whole, at the line's start), at most n-1 characters; it ends at
    // the closing quote, a line break or the end of the text. True when the
    // value is not empty.
    static bool GetTextValue(const char* text, const char* key, char* destination, std::size_t n);
    // The number in the first line that starts with key="; true when there is one.
    static bool GetNumberValue(const char* text, const char* key, int32_t* out);

    // --- State the workflow works on directly -----------------------------------
    NIVRA_Protocol& Protocol() { return *protocol_; }
    LoggerInfo& LoggerSettings() { return loggerInfo_; }
    InstrumentInfo& InstrumentSettings() { return instInfo_; }
    bool SettingsHeld() const { return settingsHeld_; }
    void SetSettingsHeld(bool held) { settingsHeld_ = held; }
    // Zeroes both settings records and clears the settings-held flag and the
    // saved mask, as before each new update.
    void ClearSettings();
    int8_t DeviceType() const { return deviceType_; }
    // The type is set by QPConnect; a restore that must read a settings file
    // without a connection may set it.
    void SetDeviceType(int8_t type) { deviceType_ = type; }
    const DeviceIdentity& Identity() const { return identity_; }
    uint32_t SavedMask() const { return savedMask_; }
    // Whether the last QPRestoreInfo wrote the replacement serial number it was given.
    bool NewSerialNumberWritten() const { return newSnWritten_; }

    // Replaces the calendar clock used by QPSetTime (tests); null restores std::time.
    void SetClockForTesting(std::time_t (*clock)()) { clock_ = clock; }

private:
    static constexpr std::size_t kCommandSize = 96;  // longest: "set -adccal " + 63 characters
    static constexpr uint32_t kAnswerSize = 80;     // largest answer any command examines, and room

    // One interpreter exchange on the prompt; the answer lands in answer_,
    // of which `size` bytes (at most all of it) are offered.
    int32_t Exchange(const char* command, uint32_t timeoutMs, uint32_t size, uint32_t* elapsedMs);
    int32_t ReadInstSetting(uint32_t bit);
    int32_t WriteInstSetting(uint32_t bit);
    // Reads back the settings of mask just written and returns those that
    // read back equal; the record keeps the values written.
    uint32_t VerifyInstSettings(uint32_t mask);
    uint32_t VerifyLoggerSettings(uint32_t mask);
    // -104 when the text lacks a key of the device type's file (MissingKeys).
    int32_t CheckFileComplete(const char* text);
    int LogLine(uint32_t level, const char* format, ...) KELO_PRINTF(3, 4);

    std::unique_ptr<KeloSerial> ownPort_;  // before protocol_: it outlives the protocol
    std::unique_ptr<NIVRA_Protocol> protocol_;
    LoggerInfo loggerInfo_;
    InstrumentInfo instInfo_;
    int8_t deviceType_ = 0;
    DeviceIdentity identity_;
    bool settingsHeld_ = false;
    KeloLog* log_;
    uint32_t savedMask_ = 0;
    uint32_t writtenMask_ = 0;  // settings the last SetInstInfo wrote
    bool newSnWritten_ = false;
    uint32_t notRestoredMask_ = 0;
    char notRestoredNames_[160] = {};
    char missingKeys_[512] = {};
    const char* fileError_ = "";
    int fileSystemError_ = 0;
    std::time_t (*clock_)() = nullptr;
    // Command and answer buffers, part of the object: no allocation per call.
    char command_[kCommandSize] = {};
    char answer_[kAnswerSize] = {};
};
