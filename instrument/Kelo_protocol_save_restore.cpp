// Saving a device's settings before a firmware update and writing them back
// after it: loggers through the logger protocol's bulk operation, instruments
// through their interpreter's get and set commands.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "Kelo_protocol.h"
#include "Result.h"

namespace {

// What a setting's value looks like on the instruments that keep it.
enum class ValueKind {
    Text,       // printable characters (the serial number)
    Integer,    // one whole number
    Numbers4,   // four numbers, blank-separated ("512 498 1.0032 -0.0041")
    HexGroups,  // hexadecimal digits in groups joined by '-' ("A3F0-1207")
    Pairs,      // blank-separated NAME=VALUE words ("CH1=ON CH2=OFF AVG=8")
};

struct InstSetting {
    uint32_t bit;
    ValueKind kind;
    const char* getCommand;
    uint32_t getTimeoutMs;
    uint32_t answerSize;    // the value's own room; see kLineBreakRoom
    const char* foundLine;  // null: no found line
    const char* setFormat;  // null: cannot be written
    const char* setLine;
};

// clang-format off
const InstSetting kSettings[] = {
    {inst_mask::kSn, ValueKind::Text, "get -sn\r", 2500, 32,
     "GetInstInfo found device serial number \"%s\" (%d ms)",
     "set -sn %s\r", "SetInstInfo set device serial number to \"%s\" (%d ms)"},
    {inst_mask::kLang, ValueKind::Integer, "get -lang\r", 1000, 32,
     "GetInstInfo found device language \"%d\" (%d ms)",
     "set -lang %d\r", "SetInstInfo set device language to \"%d\" (%d ms)"},
    {inst_mask::kContr, ValueKind::Integer, "get -contr\r", 1000, 32,
     "GetInstInfo found contrast setting \"%d\" (%d ms)",
     "set -contr %d\r", "SetInstInfo set device contrast to \"%d\" (%d ms)"},
    {inst_mask::kFvals, ValueKind::Numbers4, "get -fvals\r", 1000, 64,
     "GetInstInfo found fvals \"%s\" (%d ms)",
     "set -fvals %s\r", "SetInstInfo set fvals to \"%s\" (%d ms)"},
    {inst_mask::kUvals, ValueKind::Numbers4, "get -uvals\r", 1000, 64,
     nullptr,
     "set -uvals %s\r", "SetInstInfo set uvals to \"%s\" (%d ms)"},
    {inst_mask::kUnits, ValueKind::Integer, "get -units\r", 1000, 32,
     "GetInstInfo found units setting \"%d\" (%d ms)",
     "set -units %d\r", "SetInstInfo set device units to \"%d\" (%d ms)"},
    {inst_mask::kAdc, ValueKind::HexGroups, "get -adc\r", 1000, 17,
     "GetInstInfo found adc \"%s\" (%d ms)",
     "set -adc %s\r", "SetInstInfo set adc to \"%s\" (%d ms)"},
    {inst_mask::kInterval, ValueKind::Integer, "get -int\r", 1000, 32,
     "GetInstInfo found interval setting \"%d\" (%d ms)",
     nullptr, nullptr},
    {inst_mask::kAdcCal, ValueKind::Numbers4, "get -adccal\r", 1000, 64,
     "GetInstInfo found adccal \"%s\" (%d ms)",
     "set -adccal %s\r", "SetInstInfo set adccal to \"%s\" (%d ms)"},
    {inst_mask::kConfig, ValueKind::Pairs, "get -config\r", 1000, 32,
     "GetInstInfo found config \"%s\" (%d ms)",
     "set -config %s\r", "SetInstInfo set config to \"%s\" (%d ms)"},
};
// clang-format on

// The order in which the settings are read and written.
const uint32_t kGetOrder[] = {0x8, 0x2, 0x10, 0x800, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400};
const uint32_t kSetOrder[] = {0x2, 0x8, 0x10, 0x20, 0x800, 0x40, 0x80, 0x100, 0x400};

// An answer starts with the line break after the command ("\r" or "\r\n"):
// the buffer has room for it on top of the value, so that a value of full
// field length is not cut short.
constexpr uint32_t kLineBreakRoom = 2;
constexpr uint32_t kWriteAnswerSize = 32;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// One number, parsed whole: [first, last) holds nothing else.
bool IsNumber(const char* first, const char* last, bool whole)
{
    if (first == last)
        return false;
    if (*first == '+')
        ++first;  // from_chars takes no plus sign
    if (whole) {
        int32_t number = 0;
        auto [end, error] = std::from_chars(first, last, number);
        return error == std::errc() && end == last;
    }
    double number = 0;
    auto [end, error] = std::from_chars(first, last, number, std::chars_format::fixed);
    return error == std::errc() && end == last;
}

// The blank-separated words of a value, each judged alone; false for an
// empty word (leading, trailing or doubled blanks) or a wrong count.
template <typename Judge>
bool EachWord(const char* value, std::size_t length, int count, Judge judge)
{
    const char* end = value + length;
    int words = 0;
    for (const char* p = value;;) {
        const char* blank = static_cast<const char*>(std::memchr(p, ' ', static_cast<std::size_t>(end - p)));
        const char* wordEnd = blank ? blank : end;
        if (wordEnd == p || !judge(p, wordEnd))
            return false;
        ++words;
        if (!blank)
            break;
        p = blank + 1;
    }
    return count == 0 || words == count;
}

// An answer for the log: control characters as \xHH, at most about 60 characters.
const char* Printable(const char* text)
{
    static thread_local char out[96];
    std::size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && n + 5 < sizeof out; ++p) {
        if (*p == '\r') {
            out[n++] = '\\';
            out[n++] = 'r';
        } else if (*p < 0x20 || *p > 0x7E) {
            n += static_cast<std::size_t>(std::snprintf(out + n, sizeof out - n, "\\x%02X", *p));
        } else {
            out[n++] = static_cast<char>(*p);
        }
    }
    out[n] = '\0';
    return out;
}

const InstSetting* SettingOf(uint32_t bit)
{
    for (const InstSetting& s : kSettings)
        if (s.bit == bit)
            return &s;
    return nullptr;
}

// Where a setting lives in the record: a number, or text of a fixed size.
struct Field {
    int32_t* number = nullptr;
    char* text = nullptr;
    std::size_t size = 0;
};

Field FieldOf(InstrumentInfo& ii, uint32_t bit)
{
    switch (bit) {
    case inst_mask::kSn: return {.text = ii.sn, .size = sizeof(ii.sn)};
    case inst_mask::kLang: return {.number = &ii.lang};
    case inst_mask::kContr: return {.number = &ii.contr};
    case inst_mask::kFvals: return {.text = ii.fvals, .size = sizeof(ii.fvals)};
    case inst_mask::kUvals: return {.text = ii.uvals, .size = sizeof(ii.uvals)};
    case inst_mask::kUnits: return {.number = &ii.units};
    case inst_mask::kAdc: return {.text = ii.adc, .size = sizeof(ii.adc)};
    case inst_mask::kInterval: return {.number = &ii.interval};
    case inst_mask::kAdcCal: return {.text = ii.adccal, .size = sizeof(ii.adccal)};
    case inst_mask::kConfig: return {.text = ii.config, .size = sizeof(ii.config)};
    default: return {};
    }
}

template <std::size_t N>
uint32_t FirstBit(uint32_t mask, const uint32_t (&order)[N])
{
    for (uint32_t bit : order)
        if (mask & bit)
            return bit;
    return 0;
}

static_assert(inst_mask::kSn == logger_mask::kSn, "one serial number bit for both records");

// Settings a restore can write and read back.
constexpr uint32_t kInstWritable = inst_mask::kSn | inst_mask::kLang | inst_mask::kContr | inst_mask::kFvals |
                                   inst_mask::kUvals | inst_mask::kUnits | inst_mask::kAdc | inst_mask::kAdcCal |
                                   inst_mask::kConfig;
constexpr uint32_t kLoggerWritable = logger_mask::kName | logger_mask::kSn | logger_mask::kWake |
                                     logger_mask::kPorts | logger_mask::kPadc | logger_mask::kData |
                                     logger_mask::kRmode | logger_mask::kRch | logger_mask::kRsch |
                                     logger_mask::kAdcCal;

struct SettingName {
    uint32_t bit;
    const char* name;
};
// Named as the settings file names them.
const SettingName kInstNames[] = {
    {inst_mask::kSn, "sn"},         {inst_mask::kType, "type"},     {inst_mask::kLang, "lang"},
    {inst_mask::kContr, "contr"},   {inst_mask::kFvals, "fvals"},   {inst_mask::kUvals, "uvals"},
    {inst_mask::kUnits, "units"},   {inst_mask::kAdc, "adc"},       {inst_mask::kInterval, "interval"},
    {inst_mask::kAdcCal, "adccal"}, {inst_mask::kConfig, "config"},
};
const SettingName kLoggerNames[] = {
    {logger_mask::kName, "name"},   {logger_mask::kSn, "sn"},       {logger_mask::kVer, "ver"},
    {logger_mask::kTrait, "trait"}, {logger_mask::kWake, "wake"},   {logger_mask::kPorts, "ports"},
    {logger_mask::kPadc, "padc"},   {logger_mask::kData, "data"},   {logger_mask::kRmode, "rmode"},
    {logger_mask::kRch, "rch"},     {logger_mask::kRsch, "rsch"},   {logger_mask::kRver, "rver"},
    {logger_mask::kAdcCal, "adccal"},
};

const char* InstName(uint32_t bit)
{
    for (const SettingName& n : kInstNames)
        if (n.bit == bit)
            return n.name;
    return "?";
}

}  // namespace

uint32_t Kelo_protocol::SaveMaskOfType(int type)
{
    switch (type) {
    case device_type::kQx70: return 0x2001E7F;
    case device_type::kQx7b: return 0x77;
    case device_type::kHubTerminal: return 0xD07;
    case device_type::kHydrovaLite: return 0x7A;
    case device_type::kCanopyMeter: return 0xB2;
    case device_type::kJT5Pro: return 0x192;
    case device_type::kMoistraIG: return 0x402;
    case device_type::kHydrovaSeries3: return 0xC00;
    default: return 0;
    }
}

int32_t Kelo_protocol::CheckNewSerialNumber(const char* sn)
{
    if (!sn || !*sn)
        return result::kBadArgument;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(sn); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F)
            return result::kOutOfRange;
    }
    return 1;
}

// The value of an answer framed as the interpreter frames it: a line break
// (CR, or CR LF), the value, a line break, the prompt. False for any other
// framing: a flipped bit in a line break or the prompt must not make a value
// out of what is left. A bare prompt ("\r\r>", "\r\n>") gives an empty value.
bool Kelo_protocol::ValueOfAnswer(const char* answer, const char** value, std::size_t* length)
{
    const char* p = answer;
    if (!p || *p != '\r')
        return false;
    ++p;
    if (*p == '\n')
        ++p;
    const char* first = p;
    while (*p && *p != '\r' && *p != '>')
        ++p;
    const char* last = p;
    if (*p == '\r') {
        ++p;
        if (*p == '\n')
            ++p;
    } else if (p != first) {
        return false;  // no line break between the value and the prompt
    }
    if (*p != '>')
        return false;
    for (++p; *p; ++p)
        if (*p != ' ' && *p != '\r' && *p != '\n')
            return false;
    *value = first;
    *length = static_cast<std::size_t>(last - first);
    return true;
}

bool Kelo_protocol::CheckInstValue(uint32_t bit, const char* value, std::size_t length)
{
    const InstSetting* s = SettingOf(bit);
    InstrumentInfo room;
    const Field field = FieldOf(room, bit);
    if (!s || !value || length == 0)
        return false;
    if (field.text && length > field.size - 1)
        return false;  // longer than the instrument keeps: not one of its values
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c > 0x7E || c == '>')
            return false;  // a control character or the prompt is framing, not value
    }
    const char* end = value + length;
    switch (s->kind) {
    case ValueKind::Text:
        return value[0] != ' ' && end[-1] != ' ';
    case ValueKind::Integer:
        return IsNumber(value, end, true);
    case ValueKind::Numbers4:
        return EachWord(value, length, 4,
                        [](const char* a, const char* b) { return IsNumber(a, b, false); });
    case ValueKind::HexGroups:
        for (const char* p = value; p < end; ++p)
            if (!IsHexDigit(*p) && !(*p == '-' && p != value && p + 1 < end && p[-1] != '-'))
                return false;
        return true;
    case ValueKind::Pairs:
        return EachWord(value, length, 0, [](const char* a, const char* b) {
            const char* eq = static_cast<const char*>(std::memchr(a, '=', static_cast<std::size_t>(b - a)));
            return eq && eq != a && eq + 1 != b;
        });
    }
    return false;
}

// Reads one instrument setting into the record; 1, -30, -36 or the exchange's
// code. A value whose answer is framed wrongly or that is not of its kind is
// asked again, as a refused command is; still wrong after the tries, it is
// unreadable (-30), and nothing is stored.
int32_t Kelo_protocol::ReadInstSetting(uint32_t bit)
{
    const InstSetting* s = SettingOf(bit);
    const Field field = FieldOf(instInfo_, bit);
    if (!s || (!field.number && !field.text))
        return result::kNotForThisDevice;
    InstrumentInfo& ii = instInfo_;
    const uint32_t tries = protocol_->RetryCount() ? protocol_->RetryCount() : 1;
    int32_t r = result::kNotUnderstood;
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        uint32_t elapsed = 0;
        r = Exchange(s->getCommand, s->getTimeoutMs, s->answerSize + kLineBreakRoom, &elapsed);
        const int ms = static_cast<int>(elapsed);
        if (bit == inst_mask::kSn && r == result::kBarePrompt)
            return result::kNoName;
        if (r == NIVRA_Protocol::kUnfinishedAnswer)
            continue;  // cut short or its prompt garbled: ask again
        if (r <= 0)
            return r;

        // The whole answer, not the caller's copy: a copy cut to the field
        // would hide a value longer than the instrument keeps.
        const char* value = nullptr;
        std::size_t length = 0;
        const bool framed = ValueOfAnswer(protocol_->LastAnswer(), &value, &length);
        if (framed && length == 0) {
            // Only the prompt came back: no value (no serial number yet).
            return bit == inst_mask::kSn ? -36 : -30;
        }
        if (!framed || !CheckInstValue(bit, value, length)) {
            LogLine(KeloLog::kErrors, "GetInstInfo could not read %.*s: unusable answer \"%s\"",
                    static_cast<int>(std::strcspn(s->getCommand + 5, "\r")), s->getCommand + 5,
                    Printable(protocol_->LastAnswer()));
            r = result::kNotUnderstood;
            continue;
        }

        if (field.number) {
            int32_t number = 0;
            std::from_chars(value[0] == '+' ? value + 1 : value, value + length, number);
            *field.number = number;
            ii.valid |= bit;
            if (s->foundLine)
                LogLine(KeloLog::kSummary, s->foundLine, static_cast<int>(number), ms);
            return 1;
        }
        std::memcpy(field.text, value, length);
        field.text[length] = '\0';
        ii.valid |= bit;
        if (s->foundLine)
            LogLine(KeloLog::kSummary, s->foundLine, field.text, ms);
        return 1;
    }
    return r;
}

// Writes one instrument setting from the record; 1 when confirmed with "OK",
// -30 when answered without it, -12 a refused serial number, or the
// exchange's negative code.
int32_t Kelo_protocol::WriteInstSetting(uint32_t bit)
{
    const InstSetting* s = SettingOf(bit);
    const Field field = FieldOf(instInfo_, bit);
    if (!s || !s->setFormat || (!field.number && !field.text))
        return result::kNotForThisDevice;
    const char* text = field.text;
    const int number = field.number ? *field.number : 0;
    if (text)
        std::snprintf(command_, sizeof(command_), s->setFormat, text);
    else
        std::snprintf(command_, sizeof(command_), s->setFormat, number);

    uint32_t elapsed = 0;
    int32_t r = Exchange(command_, 1000, kWriteAnswerSize, &elapsed);
    if (r > 0 && std::strstr(answer_, "OK")) {
        if (text)
            LogLine(KeloLog::kSummary, s->setLine, text, static_cast<int>(elapsed));
        else
            LogLine(KeloLog::kSummary, s->setLine, number, static_cast<int>(elapsed));
        return 1;
    }
    if (bit == inst_mask::kSn && r == result::kErrorAnswer)
        return result::kRefused;
    if (r > 0) {
        // Only "OK" says the value was stored: an instrument that answers
        // otherwise may have kept its old value.
        LogLine(KeloLog::kErrors, "SetInstInfo: \"%.*s\" was not confirmed with OK",
                static_cast<int>(std::strcspn(command_, "\r")), command_);
        return result::kNotUnderstood;
    }
    return r;
}

std::size_t Kelo_protocol::SettingNames(int type, uint32_t mask, char* out, std::size_t size)
{
    if (!out || size == 0)
        return 0;
    out[0] = '\0';
    const bool logger = IsLoggerType(type);
    const SettingName* names = logger ? kLoggerNames : kInstNames;
    const std::size_t count = logger ? std::size(kLoggerNames) : std::size(kInstNames);
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!(mask & names[i].bit))
            continue;
        const int n = std::snprintf(out + used, size - used, "%s%s", used ? ", " : "", names[i].name);
        if (n < 0)
            break;
        used = std::min(size - 1, used + static_cast<std::size_t>(n));
    }
    return used;
}

uint32_t Kelo_protocol::VerifyInstSettings(uint32_t mask)
{
    // ReadInstSetting reads into the record: it keeps the values written,
    // which a later restore of this object writes again.
    const InstrumentInfo written = instInfo_;
    InstrumentInfo wanted = written;
    uint32_t equal = 0;
    for (uint32_t bit : kSetOrder) {
        if (!(mask & bit))
            continue;
        const int32_t r = ReadInstSetting(bit);
        const Field now = FieldOf(instInfo_, bit);
        const Field was = FieldOf(wanted, bit);
        if (r <= 0) {
            LogLine(KeloLog::kErrors, "QPRestoreInfo could not read %s back (error %d)", InstName(bit), r);
        } else if (now.number && *now.number != *was.number) {
            LogLine(KeloLog::kErrors, "QPRestoreInfo: %s reads back \"%d\", not \"%d\" as written", InstName(bit),
                    static_cast<int>(*now.number), static_cast<int>(*was.number));
        } else if (now.text && std::strcmp(now.text, was.text) != 0) {
            LogLine(KeloLog::kErrors, "QPRestoreInfo: %s reads back \"%s\", not \"%s\" as written", InstName(bit),
                    now.text, was.text);
        } else {
            equal |= bit;
        }
        instInfo_ = written;
        if (result::LineInDoubt(r))
            break;  // the line is gone: nothing more can be read back
    }
    instInfo_ = written;
    return equal;
}

uint32_t Kelo_protocol::VerifyLoggerSettings(uint32_t mask)
{
    namespace lm = logger_mask;
    uint32_t read = mask & kLoggerWritable;
    if (read == 0)
        return 0;
    // A scratch record: what was written stays in the object's own.
    LoggerInfo device = loggerInfo_;
    const int32_t r = protocol_->DeviceSettings(&device, &read, 0);
    const LoggerInfo& was = loggerInfo_;
    uint32_t equal = 0;
    for (const SettingName& n : kLoggerNames) {
        const uint32_t bit = n.bit;
        if (!(mask & kLoggerWritable & bit))
            continue;
        if (!(read & bit)) {
            LogLine(KeloLog::kErrors, "QPRestoreInfo could not read %s back (error %d)", n.name, r);
            continue;
        }
        bool same = false;
        switch (bit) {
        case lm::kName: same = std::strcmp(device.name, was.name) == 0; break;
        case lm::kSn: same = std::strcmp(device.sn, was.sn) == 0; break;
        case lm::kWake: same = device.wake == was.wake; break;
        case lm::kPorts: same = std::memcmp(device.ports, was.ports, sizeof was.ports) == 0; break;
        case lm::kPadc: same = device.padc == was.padc; break;
        case lm::kData: same = device.data == was.data; break;
        case lm::kRmode: same = device.rmode == was.rmode; break;
        case lm::kRch: same = device.rch == was.rch; break;
        case lm::kRsch: same = device.rsch == was.rsch; break;
        case lm::kAdcCal:
            same = std::memcmp(device.slope, was.slope, sizeof was.slope) == 0 &&
                   std::memcmp(device.offset, was.offset, sizeof was.offset) == 0;
            break;
        default: break;
        }
        if (same)
            equal |= bit;
        else
            LogLine(KeloLog::kErrors, "QPRestoreInfo: %s does not read back as written", n.name);
    }
    return equal;
}

int32_t Kelo_protocol::GetInstInfo(uint32_t mask)
{
    if (mask == 0) {
        LogLine(KeloLog::kSummary, "GetInstInfo should be called with non-zero flags");
        return 0;
    }
    instInfo_.type = deviceType_;
    int32_t result = 1;
    int32_t last = 0;
    uint32_t previous = 0;
    int retries = 0;
    bool anyRead = false;
    for (;;) {
        if (mask == 0 || mask == previous)
            break;
        previous = mask;
        if (result::LineInDoubt(last)) {
            result = last;
            break;
        }
        if (last == result::kNoName) {
            // No serial number yet: an instrument may still be starting up.
            if (retries++ > 3) {
                result = result::kNoName;
                break;
            }
            mask |= inst_mask::kSn;
            previous |= inst_mask::kSn;
        } else if (last < 0) {
            result = result::kSomeSettingsMissing;
        } else {
            retries = 0;
        }
        uint32_t bit = FirstBit(mask, kGetOrder);
        if (bit == 0)
            continue;
        mask &= ~bit;
        last = ReadInstSetting(bit);
        if (last > 0)
            anyRead = true;
    }
    if (result == 1 && last < 0) {
        // A failure of the last setting is no worse than one of an earlier
        // setting: the others were read and are worth keeping.
        bool fatal = result::LineInDoubt(last) || last == result::kNoName;
        result = (anyRead && !fatal) ? -35 : last;
    }
    if (result < 0)
        LogLine(KeloLog::kSummary, "GetInstInfo could not collect all settings");
    return result;
}

int32_t Kelo_protocol::SetInstInfo(uint32_t mask)
{
    if (mask == 0) {
        LogLine(KeloLog::kSummary, "SetInstInfo should be called with non-zero flags");
        return 0;
    }
    int32_t result = 1;
    int32_t last = 0;
    uint32_t previous = 0;
    bool anyWritten = false;
    writtenMask_ = 0;
    for (;;) {
        if (mask == 0)
            break;
        if (result::IsEcho(last) || last == result::kNoAnswer) {
            result = last;
            break;
        }
        if (last < 0)
            result = result::kSomeSettingsMissing;
        if (mask == previous)
            break;
        previous = mask;
        uint32_t bit = FirstBit(mask, kSetOrder);
        if (bit == 0)
            continue;
        mask &= ~bit;
        last = WriteInstSetting(bit);
        if (last > 0) {
            anyWritten = true;
            writtenMask_ |= bit;
        }
    }
    if (result == 1 && last < 0) {
        // As when reading: the last setting failing alone leaves the others written.
        bool fatal = result::IsEcho(last) || last == result::kNoAnswer;
        result = (anyWritten && !fatal) ? -35 : last;
    }
    if (result < 0)
        LogLine(KeloLog::kSummary, "SetInstInfo could not store all settings");
    return result;
}

int32_t Kelo_protocol::QPSaveInfo(const char* path)
{
    int32_t r = 0;
    const uint32_t wanted = SaveMaskOfType(deviceType_);
    uint32_t mask = wanted;
    uint32_t optional = 0;  // settings the device cannot have
    if (IsLoggerType(deviceType_)) {
        r = protocol_->DeviceSettings(&loggerInfo_, &mask, 0);
        if (r == result::kNoName) {
            settingsHeld_ = false;
            savedMask_ = 0;
            LogLine(KeloLog::kSummary, "QPSaveInfo does not save data for an uninitialized device");
            return result::kNoName;
        }
        // A logger without a radio module has no radio settings to lose.
        if (protocol_->HasRadio() == 0)
            optional = logger_mask::kRadio;
        // The version is read on connecting and is no setting of its own.
        mask |= logger_mask::kVer;
    } else if (IsInstrumentType(deviceType_)) {
        r = GetInstInfo(mask);
        mask = instInfo_.valid;
    } else {
        r = result::kNotForThisDevice;
    }

    // The update erases the device next: a setting that could not be read
    // would be lost for good, so a partial collection is a failed save.
    const uint32_t missing = wanted & ~mask & ~optional;
    if (r == result::kSomeSettingsMissing && missing == 0)
        r = 1;
    if (r >= 0 && missing != 0)
        r = result::kSomeSettingsMissing;
    if (r == result::kSomeSettingsMissing) {
        settingsHeld_ = false;
        LogLine(KeloLog::kErrors, "QPSaveInfo could not read every setting (missing 0x%X); nothing saved",
                static_cast<unsigned>(missing));
        return result::kSomeSettingsMissing;
    }

    if (r >= 0) {
        settingsHeld_ = true;
        savedMask_ = mask;
        int32_t written = WriteInfoFile(path);
        if (written > 0) {
            LogLine(KeloLog::kSummary,
                    "QPSaveInfo successfully retreived and saved device settings to a temp file");
            return 1;
        }
        LogLine(KeloLog::kErrors, "QPSaveInfo received error %d trying to save device settings to a temp file",
                written);
        return written;
    }
    LogLine(KeloLog::kErrors, "QPSaveInfo received error %d trying to collect device settings", r);
    return r;
}

int32_t Kelo_protocol::QPRestoreInfo(const char* path, const char* newSn)
{
    const bool replaceSn = newSn && *newSn;
    const bool logger = IsLoggerType(deviceType_);
    newSnWritten_ = false;
    // Until the restore says otherwise nothing of the type went back.
    notRestoredMask_ = SaveMaskOfType(deviceType_) & (logger ? kLoggerWritable : kInstWritable);
    SettingNames(deviceType_, notRestoredMask_, notRestoredNames_, sizeof(notRestoredNames_));
    if (replaceSn) {
        // The number comes from a person: one with a control character would
        // put more than one command line on the wire.
        if (CheckNewSerialNumber(newSn) < 0) {
            LogLine(KeloLog::kErrors,
                    "QPRestoreInfo refused the new serial number: it holds a control character");
            return result::kOutOfRange;
        }
        if (std::strlen(newSn) > static_cast<std::size_t>(kSnMaxLength))
            LogLine(KeloLog::kSummary,
                    "QPRestoreInfo: the new serial number is longer than %d characters; writing \"%.*s\"",
                    kSnMaxLength, kSnMaxLength, newSn);
    }

    const bool fromFile = !settingsHeld_;
    if (fromFile) {
        int32_t read = ReadInfoFile(path);
        if (read < 0) {
            LogLine(KeloLog::kErrors, "QPRestoreInfo received error %d trying to read device settings from %s",
                    read, path ? path : "");
            return read;
        }
        settingsHeld_ = true;
    }

    // What must go back: what the record holds, and from a file every
    // setting of the type (a value the file holds empty was lost before).
    uint32_t required = 0;
    uint32_t verified = 0;
    int32_t r = 0;
    if (logger) {
        if (replaceSn) {
            std::snprintf(loggerInfo_.sn, sizeof(loggerInfo_.sn), "%s", newSn);
            loggerInfo_.valid |= logger_mask::kSn;
        }
        required = loggerInfo_.valid & kLoggerWritable;
        // A logger without a radio keeps no radio settings: those come only
        // as the file or the save has them.
        if (fromFile)
            required |= SaveMaskOfType(deviceType_) & kLoggerWritable & ~logger_mask::kRadio;
        r = protocol_->DeviceSettings(&loggerInfo_, &loggerInfo_.valid, 1);
        // The call leaves in the mask what was actually written.
        if (r >= 0 || r == result::kSomeSettingsMissing)
            verified = VerifyLoggerSettings(loggerInfo_.valid & required);
    } else if (IsInstrumentType(deviceType_)) {
        if (replaceSn) {
            std::snprintf(instInfo_.sn, sizeof(instInfo_.sn), "%s", newSn);
            instInfo_.valid |= inst_mask::kSn;
        }
        required = instInfo_.valid & kInstWritable;
        if (fromFile)
            required |= SaveMaskOfType(deviceType_) & kInstWritable;
        r = SetInstInfo(instInfo_.valid);
        if (r >= 0 || r == result::kSomeSettingsMissing)
            verified = VerifyInstSettings(writtenMask_ & required);
    } else {
        r = result::kNotForThisDevice;
    }

    notRestoredMask_ = required & ~verified;
    SettingNames(deviceType_, notRestoredMask_, notRestoredNames_, sizeof(notRestoredNames_));
    newSnWritten_ = replaceSn && (verified & logger_mask::kSn);
    if (r >= 0 && (notRestoredMask_ & ~(replaceSn ? logger_mask::kSn : 0u)))
        r = result::kSomeSettingsMissing;
    if (replaceSn && !newSnWritten_) {
        LogLine(KeloLog::kErrors, "QPRestoreInfo: the device did not take the new serial number");
        if (r >= 0)
            r = result::kRefused;
    }
    if (notRestoredMask_)
        LogLine(KeloLog::kErrors, "QPRestoreInfo: these settings did not go back: %s", notRestoredNames_);

    if (r < 0 && r != result::kSomeSettingsMissing) {
        LogLine(KeloLog::kErrors, "QPRestoreInfo received error %d trying to upload device settings", r);
        return r;
    }
    if (r > 0)
        LogLine(KeloLog::kSummary, "QPRestoreInfo successfully restored device setting");
    return r;
}
