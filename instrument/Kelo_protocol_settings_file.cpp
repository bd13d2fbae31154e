// The settings file: one key and its quoted value per line, so that settings
// collected before a firmware update survive until they are written back,
// even across runs of the program.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "InputFile.h"
#include "Kelo_protocol.h"

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

// Reads "Port number="N" <what>" of every port into ports. scratch keeps the
// last value found, so the caller can tell whether any port had one.
void ReadPortValues(const char* text, const char* what, uint8_t* ports, int32_t* scratch)
{
    char key[40];
    for (int port = 0; port < kLoggerPortCount; ++port) {
        std::snprintf(key, sizeof(key), "Port number=\"%d\" %s", port + 1, what);
        if (Kelo_protocol::GetNumberValue(text, key, scratch))
            ports[port] = static_cast<uint8_t>(*scratch & 0xFF);
    }
}

}  // namespace

bool Kelo_protocol::GetTextValue(const char* text, const char* key, char* destination, std::size_t n)
{
    if (!destination || n == 0)
        return false;
    destination[0] = '\0';
    if (!text || !key)
        return false;
    const char* at = std::strstr(text, key);
    if (!at)
        return false;
    const char* quote = std::strchr(at + std::strlen(key), '"');
    if (!quote)
        return false;
    // A value also ends at a line break: a value whose closing quote was lost
    // must not carry the following lines into a device command.
    const char* value = quote + 1;
    std::size_t length = std::strcspn(value, "\"\r\n");
    if (length > n - 1)
        length = n - 1;
    std::memcpy(destination, value, length);
    destination[length] = '\0';
    return destination[0] != '\0';
}

bool Kelo_protocol::GetNumberValue(const char* text, const char* key, int32_t* out)
{
    if (!text || !key || !out)
        return false;
    const char* at = std::strstr(text, key);
    if (!at)
        return false;
    const char* quote = std::strchr(at + std::strlen(key), '"');
    if (!quote)
        return false;
    *out = static_cast<int32_t>(std::strtol(quote + 1, nullptr, 10));
    return true;
}

int32_t Kelo_protocol::WriteInfoFile(const char* path)
{
    if (!path || !*path)
        return -10;
    errno = 0;
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        int error = errno > 0 ? errno : 1;
        LogLine(KeloLog::kErrors, "WriteInfoFile got error %d trying to open settings file %s", error, path);
        return -error;
    }
    int32_t result = PutLine(file, "%s", kHeader);
    if (result > 0)
        result = IsLoggerType(deviceType_) ? WriteLoggerSettings(file) : WriteInstrumentSettings(file);
    // A line may still sit in the stream's buffer: a failing flush or close
    // means the file is not complete.
    if (std::fflush(file) != 0 && result > 0)
        result = errno > 0 ? -errno : -1;
    if (std::fclose(file) != 0 && result > 0)
        result = errno > 0 ? -errno : -1;
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
        return -10;
    // Folders, pipes, devices and oversized files are refused unread.
    InputFile input;
    InputFileStatus status = input.Open(path, InputFileKind::Settings);
    if (status == InputFileStatus::NotFound)
        return -102;
    if (status == InputFileStatus::NoAccess)
        return -105;
    if (status != InputFileStatus::Ok)
        return InputFileCode(status);
    const std::size_t length = static_cast<std::size_t>(input.Size());
    // The file is read whole and NUL-terminated.
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]());
    if (!text)
        return -60;
    std::size_t got = std::fread(text.get(), 1, length, input.File());
    text[got] = '\0';

    switch (deviceType_) {
    case device_type::kQx7b:
    case device_type::kQx70:
    case device_type::kHubTerminal:
        return ReadLoggerSettings(text.get());
    case device_type::kHydrovaLite:
    case device_type::kJT5Pro:
    case device_type::kCanopyMeter:
    case device_type::kNivraTE:
    case device_type::kMoistraIG:
    case device_type::kHydrovaSeries3:
        return ReadInstrumentSettings(text.get());
    default:
        return -13;
    }
}

int32_t Kelo_protocol::ReadLoggerSettings(const char* text)
{
    const char* typeLine = nullptr;
    switch (deviceType_) {
    case device_type::kQx70: typeLine = "type=\"Qx70\""; break;
    case device_type::kQx7b: typeLine = "type=\"Qx7b\""; break;
    case device_type::kHubTerminal: typeLine = "type=\"HubTerminal\""; break;
    default: return -13;
    }
    if (!text || !std::strstr(text, typeLine))
        return -30;

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
        // One scratch value for all five ports: the last one found decides the bit.
        int32_t scratch = 0;
        ReadPortValues(text, "value", li.ports, &scratch);
        if (scratch != 0)
            mask |= logger_mask::kPorts;
        if (qx70) {
            scratch = 0;
            ReadPortValues(text, "slope", li.slope, &scratch);
            ReadPortValues(text, "offset", li.offset, &scratch);
            if (scratch != 0)
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
    default: return -30;
    }
    if (!text || !std::strstr(text, typeLine))
        return -30;

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
