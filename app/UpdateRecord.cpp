#include "UpdateRecord.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "TimeSplit.h"

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

// Bytes that are not UTF-8 become U+FFFD, so that any reader can parse the
// line whatever a device or a port name held. DEL is escaped too, as every
// other control character is: a line shown on a terminal shows none of them.
std::string Dumped(const Json& json)
{
    const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\x7f')
            out += "\\u007f";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string JsonQuoted(const std::string& text)
{
    return Dumped(Json(text));
}

std::string IsoUtcTime(std::time_t when)
{
    std::tm parts{};
    SplitUtc(when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string UpdateRecord::ToJson() const
{
    // Whole tenths, as the history has always held them: 66.25 s is 66.3.
    const long long tenths = seconds > 0 ? std::llround(seconds * 10.0) : 0;
    Json line;
    line["time"] = IsoUtcTime(time);
    line["port"] = port;
    line["device"] = TextOrNull(device);
    line["serialNumber"] = TextOrNull(serialNumber);
    line["oldVersion"] = TextOrNull(oldVersion);
    line["newVersion"] = TextOrNull(newVersion);
    line["result"] = result;
    line["words"] = words;
    line["seconds"] = static_cast<double>(tenths) / 10.0;
    line["settingsArchive"] = TextOrNull(settingsArchive);
    line["newSerialNumber"] = TextOrNull(newSerialNumber);
    return Dumped(line);
}
