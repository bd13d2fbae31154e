// Result: what the updater's calls return, on every floor. Zero or positive
// is done (some calls give a count); a negative value is one of the codes
// below. Each code is named once, in the group of the floor that gives it,
// and floors above pass it on unchanged. The numbers are stored and printed
// (the update history's "result", the log, the command line's messages), so
// a code keeps its number for good; a new meaning takes a new number inside
// its floor's ranges (kRanges), never one in use.
//
// The operating system's error number never becomes a result: a file or port
// call that fails for a system reason returns one code here and keeps the
// system's number beside it (KeloSerial::SystemError, FirmwareImage::Load,
// Kelo_protocol::FileSystemError).
#pragma once

#include <cstdint>

using Result = int32_t;

namespace result {

enum class Floor { Common, Serial, Logger, Instrument, Bootloader, App };

// Every code: its name, its number, the floor that gives it, its words for a
// person ("no answer from the device"). Distinct codes may share words where
// a person need not tell them apart (the code in brackets does).
#define KELO_RESULTS(X) \
    /* given by several floors */ \
    X(kFailed, -1, Common, "the device reported a failure") \
    X(kBadArgument, -10, Common, "the program asked for something impossible") \
    X(kOutOfRange, -11, Common, "a value was out of its range") \
    X(kNoUsableAnswer, -22, Common, "no usable answer from the device after all tries") \
    X(kStopped, -40, Common, "stopped by Ctrl+C or a Cancel answer") \
    X(kOutOfMemory, -60, Common, "out of memory") \
    /* serial/: the port and the line (the first three keep the numbers of the Windows errors they once were) */ \
    X(kNoSuchPort, -2, Serial, "no such port") \
    X(kPortInUse, -5, Serial, "the port is in use by another program") \
    X(kPortNotOpen, -6, Serial, "the port is not open") \
    X(kPortSystemError, -9, Serial, "the port failed with a system error") \
    X(kNoPermission, -13, Serial, "this user may not open the port") \
    X(kNoAnswer, -21, Serial, "the line went silent") \
    /* logger_protocol/: the command interpreter's dialogue */ \
    X(kRefused, -12, Logger, "the device refused to store the value") \
    X(kNotForThisDevice, -14, Logger, "not possible for this device type") \
    X(kDeviceSilent, -20, Logger, "no answer from the device") \
    X(kFeatureMissing, -23, Logger, "the device lacks that feature") \
    X(kUnfinishedAnswer, -24, Logger, "the device's answer came too slowly or was cut short") \
    X(kNotUnderstood, -30, Logger, "the device's answer could not be understood") \
    X(kBarePrompt, -31, Logger, "the device's command interpreter answered oddly") \
    X(kEchoed, -32, Logger, "the device's command interpreter answered oddly") \
    X(kEchoedAgain, -33, Logger, "the device's command interpreter answered oddly") \
    X(kErrorAnswer, -34, Logger, "the device's command interpreter answered oddly") \
    X(kSomeSettingsMissing, -35, Logger, "not every setting could be read or written") \
    X(kNoName, -36, Logger, "the device has no name yet") \
    X(kNameUnchecked, -37, Logger, "the device's name could not be checked before its data erase") \
    X(kNoRadio, -45, Logger, "the device has no radio") \
    X(kNameControlCharacter, -50, Logger, "the name holds a control character") \
    X(kNameForbiddenCharacter, -51, Logger, "the name holds a character a name may not hold") \
    X(kNameReserved, -52, Logger, "the name is one of the device's command words") \
    X(kNameEmpty, -53, Logger, "the name is empty") \
    X(kNameTooLong, -54, Logger, "the name is too long") \
    X(kDataMemoryErrors, -65, Logger, "the device's data memory reports errors") \
    X(kInLoader, -80, Logger, "the device is in its firmware loader") \
    X(kInLoaderOld, -81, Logger, "the device is in its firmware loader") \
    /* instrument/: the instrument and its settings file */ \
    X(kLoginRefused, -25, Instrument, "the device refused the service login") \
    X(kBatteryUnknown, -38, Instrument, "the device gave no battery level") \
    X(kNoSettingsFile, -102, Instrument, "no settings file") \
    X(kSettingsIncomplete, -104, Instrument, "the settings file is incomplete for its device type") \
    X(kSettingsUnreadable, -105, Instrument, "the settings file could not be read") \
    X(kSettingsNotWritten, -109, Instrument, "the settings file could not be written") \
    X(kCannotUpdate, -120, Instrument, "this build cannot update the device's firmware") \
    /* bootloader/: the firmware image and the loader */ \
    X(kNotFirmware, -100, Bootloader, "not a valid firmware file") \
    X(kFirmwareUnreadable, -101, Bootloader, "the firmware file could not be read") \
    X(kLoaderSilent, -110, Bootloader, "the firmware loader did not answer") \
    X(kNoLoader, -112, Bootloader, "the device has no working firmware loader") \
    /* app/: the update as a whole */ \
    X(kSettingsWaiting, -103, App, "a settings file of an unfinished update must be settled first") \
    X(kSettingsFileBroken, -106, App, "the settings file could not be read") \
    X(kSettingsNotSafe, -107, App, "the settings could not be saved safely") \
    X(kSettingsHeld, -108, App, "another update running now holds the settings file") \
    X(kNotNow, -115, App, "not possible while an update runs") \
    X(kWrongDevice, -121, App, "a different device type was found") \
    X(kNewFirmwareNotRunning, -122, App, "the device does not run the firmware just written") \
    X(kLeftUntouched, -123, App, "left untouched: nothing was written to the device") \
    X(kBatteriesLow, -130, App, "the batteries are too low") \
    X(kBatteryUnreadable, -131, App, "the battery level could not be read")

#define KELO_RESULT_CONSTANT(name, number, floor, words) constexpr Result name = number;
KELO_RESULTS(KELO_RESULT_CONSTANT)
#undef KELO_RESULT_CONSTANT

// The ranges of codes each floor may give: no two overlap. The old numbers
// interleave, so a floor has several; a new code goes into one of its own.

struct Range {
    Floor floor;
    Result high;  // the range is high >= code >= low
    Result low;
};

constexpr Range kRanges[] = {
    {Floor::Common, -1, -1},       {Floor::Serial, -2, -9},       {Floor::Common, -10, -11},
    {Floor::Logger, -12, -12},     {Floor::Serial, -13, -13},     {Floor::Logger, -14, -20},
    {Floor::Serial, -21, -21},     {Floor::Common, -22, -22},     {Floor::Logger, -23, -24},
    {Floor::Instrument, -25, -29}, {Floor::Logger, -30, -37},     {Floor::Instrument, -38, -39},
    {Floor::Common, -40, -44},     {Floor::Logger, -45, -59},     {Floor::Common, -60, -64},
    {Floor::Logger, -65, -99},     {Floor::Bootloader, -100, -101}, {Floor::Instrument, -102, -102},
    {Floor::App, -103, -103},      {Floor::Instrument, -104, -105}, {Floor::App, -106, -108},
    {Floor::Instrument, -109, -109}, {Floor::Bootloader, -110, -114}, {Floor::App, -115, -119},
    {Floor::Instrument, -120, -120}, {Floor::App, -121, -199},
};

// The floor whose range holds code; Common for codes in no range.
constexpr Floor FloorOf(Result code)
{
    for (const Range& range : kRanges)
        if (code <= range.high && code >= range.low)
            return range.floor;
    return Floor::Common;
}

// The questions callers ask of a result.
constexpr bool InLoader(Result code) { return code == kInLoader || code == kInLoaderOld; }
// Nothing usable came back: silence, or only answers that were no use.
constexpr bool IsNoAnswer(Result code)
{
    return code == kNoAnswer || code == kNoUsableAnswer || code == kDeviceSilent;
}
// The command came back to us: something echoes on the line (a relay, a loop-back).
constexpr bool IsEcho(Result code) { return code == kEchoed || code == kEchoedAgain; }
// The line itself is in doubt: silence, or the first echo.
constexpr bool LineInDoubt(Result code) { return code == kNoAnswer || code == kEchoed; }

// The words for a result, for a person: "no answer from the device". Never
// null: a code that is none of the above reads "system error".
const char* Words(Result code);

struct Entry {
    Result code;
    Floor floor;
    const char* words;
};
// The whole table, for the checks that keep it sound.
const Entry* Table(int* count);

}  // namespace result
