#include "UpdateRecord.h"

#include <cmath>
#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

std::string TextOrNull(const std::string& text)
{
    return text.empty() ? "null" : JsonQuoted(text);
}

}  // namespace

std::string JsonQuoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            out += length ? text.substr(i, length) : "\xEF\xBF\xBD";
            i += length ? length : 1;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

std::string IsoUtcTime(std::time_t when)
{
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &when);
#else
    gmtime_r(&when, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string UpdateRecord::ToJson() const
{
    // Built from whole tenths: printf would take the decimal comma of the
    // window's locale, which is not JSON.
    const long long tenths = seconds > 0 ? std::llround(seconds * 10.0) : 0;
    const std::string number = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    return "{\"time\":" + JsonQuoted(IsoUtcTime(time)) + ",\"port\":" + JsonQuoted(port) +
           ",\"device\":" + TextOrNull(device) + ",\"serialNumber\":" + TextOrNull(serialNumber) +
           ",\"oldVersion\":" + TextOrNull(oldVersion) + ",\"newVersion\":" + TextOrNull(newVersion) +
           ",\"result\":" + std::to_string(result) + ",\"words\":" + JsonQuoted(words) + ",\"seconds\":" + number +
           ",\"settingsArchive\":" + TextOrNull(settingsArchive) +
           ",\"newSerialNumber\":" + TextOrNull(newSerialNumber) + "}";
}
