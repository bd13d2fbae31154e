// The settings file: one key and its quoted value per line, so that settings
// collected before a firmware update survive until they are written back,
// even across runs of the program.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>

#include "DurableFile.h"

#include "InputFile.h"
#include "Kelo_protocol.h"
#include "Result.h"

namespace {

constexpr const char* kHeader = "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n";

// One formatted line; 1 or the negative result of the failed write.
int32_t PutLine(std::FILE* file, const char* format, ...) KELO_PRINTF(2, 3);
int32_t PutLine(std::FILE* file, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = std::vfprintf(file, format, args);
    va_end(args);
    if (written < 0)
        return errno > 0 ? -errno : -1;
    return 1;
}

// The value of the line that starts with key followed by ="; it runs to the
// closing quote, or to the line's end when that quote was lost (*closed
// false). Null when no line starts with the key. A key is matched only at a
// line's start and whole: "sn" inside a logger's name, or "rch" inside
// "rsch", is not its line.
const char* FindValue(const char* text, const char* key, std::size_t* length, bool* closed)
{
    if (!text || !key || !*key)
        return nullptr;
    const std::size_t keyLength = std::strlen(key);
    for (const char* line = text; *line;) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == '=' && line[keyLength + 1] == '"') {
            const char* value = line + keyLength + 2;
            *length = std::strcspn(value, "\"\r\n");
            *closed = value[*length] == '"';
            return value;
        }
        const char* next = std::strchr(line, '\n');
        if (!next)
            break;
        line = next + 1;
    }
    return nullptr;
}

// A line the writer wrote whole: its closing quote is there and a number is
// a signed decimal number and nothing else.
bool ValueComplete(const char* text, const char* key, bool number)
{
    std::size_t length = 0;
    bool closed = false;
    const char* value = FindValue(text, key, &length, &closed);
    if (!value || !closed)
        return false;
    if (!number)
        return true;
    std::size_t i = (length > 0 && value[0] == '-') ? 1 : 0;
    if (i == length)
        return false;
    for (; i < length; ++i)
        if (value[i] < '0' || value[i] > '9')
            return false;
    return true;
}

struct FileKey {
    const char* key;
    bool number;
};

// The lines a settings file of each type must hold: those its reader takes.
// clang-format off
#define KELO_PORT_KEYS(what) \
    {"Port number=\"1\" " what, true}, {"Port number=\"2\" " what, true}, {"Port number=\"3\" " what, true}, \
    {"Port number=\"4\" " what, true}, {"Port number=\"5\" " what, true}
const FileKey kQx70Keys[] = {{"name", false}, {"sn", false}, {"wake", true}, {"padc", true},
                             KELO_PORT_KEYS("value"), KELO_PORT_KEYS("slope"), KELO_PORT_KEYS("offset"),
                             {"rmode", true}, {"rch", true}, {"rsch", true}};
const FileKey kQx7bKeys[] = {{"name", false}, {"sn", false}, {"wake", true}, {"padc", true},
                             KELO_PORT_KEYS("value")};
#undef KELO_PORT_KEYS
const FileKey kHubKeys[] = {{"name", false}, {"sn", false}, {"rch", true}, {"rsch", true}, {"data", true}};
const FileKey kHydrovaLiteKeys[] = {{"sn", false}, {"lang", true}, {"contr", true}, {"fvals", false},
                                    {"uvals", false}};
const FileKey kCanopyKeys[] = {{"sn", false}, {"contr", true}, {"fvals", false}, {"units", true}};
const FileKey kJT5Keys[] = {{"sn", false}, {"contr", true}, {"units", true}, {"adc", false}};
const FileKey kMoistraKeys[] = {{"sn", false}, {"adccal", false}};
const FileKey kSeries3Keys[] = {{"adccal", false}, {"config", false}};
// clang-format on

template <std::size_t N>
std::size_t KeysOf(const FileKey (&keys)[N], const FileKey** out)
{
    *out = keys;
    return N;
}

std::size_t RequiredKeys(int type, const FileKey** keys)
{
    switch (type) {
    case device_type::kQx70: return KeysOf(kQx70Keys, keys);
    case device_type::kQx7b: return KeysOf(kQx7bKeys, keys);
    case device_type::kHubTerminal: return KeysOf(kHubKeys, keys);
    case device_type::kHydrovaLite: return KeysOf(kHydrovaLiteKeys, keys);
    case device_type::kCanopyMeter: return KeysOf(kCanopyKeys, keys);
    case device_type::kJT5Pro: return KeysOf(kJT5Keys, keys);
    case device_type::kMoistraIG: return KeysOf(kMoistraKeys, keys);
    case device_type::kHydrovaSeries3: return KeysOf(kSeries3Keys, keys);
    default: *keys = nullptr; return 0;
    }
}

// Reads "Port number="N" <what>" of every port into ports.
void ReadPortValues(const char* text, const char* what, uint8_t* ports)
{
    char key[40];
    int32_t number = 0;
    for (int port = 0; port < kLoggerPortCount; ++port) {
        std::snprintf(key, sizeof(key), "Port number=\"%d\" %s", port + 1, what);
        if (Kelo_protocol::GetNumberValue(text, key, &number))
            ports[port] = static_cast<uint8_t>(number & 0xFF);
    }
}

}  // namespace

bool Kelo_protocol::GetTextValue(const char* text, const char* key, char* destination, std::size_t n)
{
    if (!destination || n == 0)
        return false;
    destination[0] = '\0';
    std::size_t length = 0;
    bool closed = false;
    const char* value = FindValue(text, key, &length, &closed);
    if (!value)
        return false;
    // A value also ends at a line break: a value whose closing quote was lost
    // must not carry the following lines into a device command.
    if (length > n - 1)
        length = n - 1;
    std::memcpy(destination, value, length);
    destination[length] = '\0';
    return destination[0] != '\0';
}

bool Kelo_protocol::GetNumberValue(const char* text, const char* key, int32_t* out)
{
    if (!out)
        return false;
    std::size_t length = 0;
    bool closed = false;
    const char* value = FindValue(text, key, &length, &closed);
    if (!value)
        return false;
    *out = static_cast<int32_t>(std::strtol(value, nullptr, 10));
    return true;
}

int32_t Kelo_protocol::CheckFileComplete(const char* text)
{
    missingKeys_[0] = '\0';
    const FileKey* keys = nullptr;
    const std::size_t count = RequiredKeys(deviceType_, &keys);
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (ValueComplete(text, keys[i].key, keys[i].number))
            continue;
        const int n = std::snprintf(missingKeys_ + used, sizeof(missingKeys_) - used, "%s%s", used ? ", " : "",
                                    keys[i].key);
        if (n > 0)
            used = std::min(sizeof(missingKeys_) - 1, used + static_cast<std::size_t>(n));
    }
    return missingKeys_[0] ? -104 : 1;
}

int32_t Kelo_protocol::WriteInfoFile(const char* path)
{
    fileError_ = "";
    fileSystemError_ = 0;
    if (!path || !*path)
        return result::kBadArgument;
    // The file is all that keeps the settings once the device is erased: it
    // reaches the disk whole under its name, or not at all.
    DurableFile file;
    int32_t result = file.Open(path);
    if (result < 0) {
        fileError_ = DurableFile::ErrorText(result);
        fileSystemError_ = -result;
        LogLine(KeloLog::kErrors, "WriteInfoFile got error %d trying to open settings file %s: %s", -result, path,
                fileError_);
        return result::kSettingsNotWritten;
    }
    result = PutLine(file.File(), "%s", kHeader);
    if (result > 0)
        result = IsLoggerType(deviceType_) ? WriteLoggerSettings(file.File()) : WriteInstrumentSettings(file.File());
    if (result > 0)
        result = file.Commit(path, true);
    else
        file.Discard();
    if (result < 0) {
        fileError_ = DurableFile::ErrorText(result);
        fileSystemError_ = -result;
        LogLine(KeloLog::kErrors, "WriteInfoFile could not write settings file %s: %s (error %d)", path, fileError_,
                -result);
        return result::kSettingsNotWritten;
    }
    return result;
}

int32_t Kelo_protocol::WriteLoggerSettings(std::FILE* file)
{
    const LoggerInfo& li = loggerInfo_;
    int32_t r = PutLine(file, "type=\"%s\"\r\n", li.modelName);
    if (r > 0)
        r = PutLine(file, "name=\"%s\"\r\n", li.name);
    if (r > 0)
        r = PutLine(file, "sn=\"%s\"\r\n", li.sn);
    if (r > 0)
        r = PutLine(file, "wake=\"%d\"\r\n", static_cast<int>(li.wake));
    if (r > 0)
        r = PutLine(file, "padc=\"%d\"\r\n", static_cast<int>(li.padc));
    for (int port = 0; port < kLoggerPortCount && r > 0; ++port) {
        r = PutLine(file, "Port number=\"%d\" value=\"%d\"\r\n", port + 1, li.ports[port]);
        if (r > 0)
            r = PutLine(file, "Port number=\"%d\" slope=\"%d\"\r\n", port + 1, li.slope[port]);
        if (r > 0)
            r = PutLine(file, "Port number=\"%d\" offset=\"%d\"\r\n", port + 1, li.offset[port]);
    }
    if (r > 0)
        r = PutLine(file, "rmode=\"%d\"\r\n", static_cast<int>(li.rmode));
    if (r > 0)
        r = PutLine(file, "rch=\"%d\"\r\n", static_cast<int>(li.rch));
    if (r > 0)
        r = PutLine(file, "rsch=\"%d\"\r\n", static_cast<int>(li.rsch));
    if (r > 0)
        r = PutLine(file, "data=\"%d\"\r\n", static_cast<int>(li.data));
    return r;
}

int32_t Kelo_protocol::WriteInstrumentSettings(std::FILE* file)
{
    const InstrumentInfo& ii = instInfo_;
    int32_t r = PutLine(file, "type=\"%s\"\r\n", DeviceTypeModelWord(deviceType_));
    if (r > 0)
        r = PutLine(file, "sn=\"%s\"\r\n", ii.sn);
    if (r > 0)
        r = PutLine(file, "lang=\"%d\"\r\n", static_cast<int>(ii.lang));
    if (r > 0)
        r = PutLine(file, "contr=\"%d\"\r\n", static_cast<int>(ii.contr));
    if (r > 0)
        r = PutLine(file, "config=\"%s\"\r\n", ii.config);
    if (r > 0)
        r = PutLine(file, "fvals=\"%s\"\r\n", ii.fvals);
    if (r > 0)
        r = PutLine(file, "uvals=\"%s\"\r\n", ii.uvals);
    if (r > 0)
        r = PutLine(file, "units=\"%d\"\r\n", static_cast<int>(ii.units));
    if (r > 0)
        r = PutLine(file, "adc=\"%s\"\r\n", ii.adc);
    if (r > 0)
        r = PutLine(file, "adccal=\"%s\"\r\n", ii.adccal);
    return r;
}

int32_t Kelo_protocol::ReadInfoFile(const char* path)
{
    if (!path || !*path)
        return result::kBadArgument;
    // Folders, pipes, devices and oversized files are refused unread.
    InputFile input;
    InputFileStatus status = input.Open(path, InputFileKind::Settings);
    fileSystemError_ = -InputFileCode(status);
    if (status == InputFileStatus::NotFound)
        return result::kNoSettingsFile;
    if (status != InputFileStatus::Ok)
        return result::kSettingsUnreadable;
    const std::size_t length = static_cast<std::size_t>(input.Size());
    // The file is read whole and NUL-terminated.
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]());
    if (!text)
        return result::kOutOfMemory;
    std::size_t got = std::fread(text.get(), 1, length, input.File());
    text[got] = '\0';
    missingKeys_[0] = '\0';

    int32_t result = result::kNotForThisDevice;
    switch (deviceType_) {
    case device_type::kQx7b:
    case device_type::kQx70:
    case device_type::kHubTerminal:
        result = ReadLoggerSettings(text.get());
        break;
    case device_type::kHydrovaLite:
    case device_type::kJT5Pro:
    case device_type::kCanopyMeter:
    case device_type::kNivraTE:
    case device_type::kMoistraIG:
    case device_type::kHydrovaSeries3:
        result = ReadInstrumentSettings(text.get());
        break;
    default:
        break;
    }
    // A file cut short (a crash while it was written) restores nothing: the
    // settings it lacks would be lost without a word. It stays where it is.
    if (result == result::kSettingsIncomplete)
        LogLine(KeloLog::kErrors,
                "ReadInfoFile: the settings file %s lacks %s; it is incomplete and is not restored", path,
                missingKeys_);
    return result;
}

int32_t Kelo_protocol::ReadLoggerSettings(const char* text)
{
    const char* typeLine = nullptr;
    switch (deviceType_) {
    case device_type::kQx70: typeLine = "type=\"Qx70\""; break;
    case device_type::kQx7b: typeLine = "type=\"Qx7b\""; break;
    case device_type::kHubTerminal: typeLine = "type=\"HubTerminal\""; break;
    default: return result::kNotForThisDevice;
    }
    if (!text || !std::strstr(text, typeLine))
        return result::kNotUnderstood;
    if (CheckFileComplete(text) < 0)
        return result::kSettingsIncomplete;

    const bool qx70 = deviceType_ == device_type::kQx70;
    const bool hub = deviceType_ == device_type::kHubTerminal;
    LoggerInfo& li = loggerInfo_;
    uint32_t mask = 0;
    int32_t number = 0;
    // Reads key into number and, when found, marks bits as held.
    auto numberFound = [&](const char* key, uint32_t bits) {
        if (!GetNumberValue(text, key, &number))
            return false;
        mask |= bits;
        return true;
    };

    if (GetTextValue(text, "name", li.name, sizeof(li.name)))
        mask |= logger_mask::kName;
    if (GetTextValue(text, "sn", li.sn, sizeof(li.sn)))
        mask |= logger_mask::kSn;
    if (!hub) {
        if (numberFound("wake", logger_mask::kWake))
            li.wake = static_cast<uint32_t>(number);
        if (numberFound("padc", logger_mask::kPadc))
            li.padc = number;
        // Every port line is there (the file is complete): the ports go
        // back whatever their values, a last port of 0 included.
        ReadPortValues(text, "value", li.ports);
        mask |= logger_mask::kPorts;
        if (qx70) {
            ReadPortValues(text, "slope", li.slope);
            ReadPortValues(text, "offset", li.offset);
            mask |= logger_mask::kAdcCal;
        }
    }
    if (qx70 && numberFound("rmode", logger_mask::kRmode))
        li.rmode = static_cast<uint32_t>(number);
    if (qx70 || hub) {
        if (numberFound("rch", logger_mask::kRch))
            li.rch = number;
        const bool rschFound = numberFound("rsch", logger_mask::kRsch | logger_mask::kTrait);
        if (rschFound) {
            li.rsch = number;
            li.traits = 0x4001;
        }
        if (hub && rschFound && numberFound("data", logger_mask::kData))
            li.data = number;
    }
    savedMask_ = mask;
    li.valid = mask;
    return 1;
}

int32_t Kelo_protocol::ReadInstrumentSettings(const char* text)
{
    const char* typeLine = nullptr;
    switch (deviceType_) {
    case device_type::kHydrovaLite: typeLine = "type=\"TELSO\""; break;
    case device_type::kCanopyMeter: typeLine = "type=\"WN\""; break;
    case device_type::kJT5Pro: typeLine = "type=\"JV\""; break;
    case device_type::kMoistraIG: typeLine = "type=\"MERV\""; break;
    case device_type::kHydrovaSeries3: typeLine = "type=\"R7F\""; break;
    default: return result::kNotUnderstood;
    }
    if (!text || !std::strstr(text, typeLine))
        return result::kNotUnderstood;
    if (CheckFileComplete(text) < 0)
        return result::kSettingsIncomplete;

    InstrumentInfo& ii = instInfo_;
    ii.type = deviceType_;
    ii.valid |= inst_mask::kType;
    auto textValue = [&](const char* key, char* field, std::size_t size, uint32_t bit) {
        if (GetTextValue(text, key, field, size))
            ii.valid |= bit;
    };
    auto number = [&](const char* key, int32_t* field, uint32_t bit) {
        if (GetNumberValue(text, key, field))
            ii.valid |= bit;
    };
    switch (deviceType_) {
    case device_type::kHydrovaLite:
        textValue("sn", ii.sn, sizeof(ii.sn), inst_mask::kSn);
        number("lang", &ii.lang, inst_mask::kLang);
        number("contr", &ii.contr, inst_mask::kContr);
        textValue("fvals", ii.fvals, sizeof(ii.fvals), inst_mask::kFvals);
        textValue("uvals", ii.uvals, sizeof(ii.uvals), inst_mask::kUvals);
        break;
    case device_type::kCanopyMeter:
        textValue("sn", ii.sn, sizeof(ii.sn), inst_mask::kSn);
        number("contr", &ii.contr, inst_mask::kContr);
        // The save collects fvals for this type and the writer writes it:
        // reading it back keeps a restore from the file from losing it.
        textValue("fvals", ii.fvals, sizeof(ii.fvals), inst_mask::kFvals);
        number("units", &ii.units, inst_mask::kUnits);
        break;
    case device_type::kJT5Pro:
        textValue("sn", ii.sn, sizeof(ii.sn), inst_mask::kSn);
        number("contr", &ii.contr, inst_mask::kContr);
        number("units", &ii.units, inst_mask::kUnits);
        textValue("adc", ii.adc, sizeof(ii.adc), inst_mask::kAdc);
        break;
    case device_type::kMoistraIG:
        textValue("sn", ii.sn, sizeof(ii.sn), inst_mask::kSn);
        textValue("adccal", ii.adccal, sizeof(ii.adccal), inst_mask::kAdcCal);
        break;
    case device_type::kHydrovaSeries3:
        textValue("adccal", ii.adccal, sizeof(ii.adccal), inst_mask::kAdcCal);
        textValue("config", ii.config, sizeof(ii.config), inst_mask::kConfig);
        break;
    default:
        break;
    }
    return 1;
}
