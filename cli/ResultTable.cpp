#include "ResultTable.h"

#include <algorithm>
#include <cstdio>

#include "ExitCodes.h"

int CombinedExitCode(const std::vector<PortResult>& results)
{
    int code = exit_code::kSuccess;
    for (const PortResult& r : results)
        code = std::max(code, r.exitCode);
    return code;
}

std::string ResultWords(int exitCode)
{
    const char* words = "failed";
    switch (exitCode) {
    case exit_code::kSuccess: return "updated";
    case exit_code::kSettingsNotRestored: return "updated, settings not restored (7)";
    case exit_code::kUsage: words = "stopped"; break;  // before anything was changed
    case exit_code::kNoConnection: words = "no connection"; break;
    case exit_code::kWrongDevice: words = "refused"; break;
    case exit_code::kDeviceFailure: words = "device failure"; break;
    case exit_code::kCancelled: words = "cancelled"; break;
    default: break;
    }
    return std::string(words) + " (" + std::to_string(exitCode) + ")";
}

namespace {

// A cause may run over several lines; a table row holds one.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text)
        line += c == '\n' ? ' ' : c;
    return line;
}

std::string Pad(const std::string& text, std::size_t width)
{
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::string ResultTable(const std::vector<PortResult>& results)
{
    std::vector<std::vector<std::string>> rows = {{"Port", "Device", "Version", "Result", "Seconds", "Message"}};
    for (const PortResult& r : results) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
        rows.push_back({r.port, r.device, r.oldVersion + " -> " + r.newVersion, ResultWords(r.exitCode), seconds,
                        OneLine(r.message)});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c)
            line += c + 1 == row.size() ? row[c] : Pad(row[c], widths[c] + 2);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        table += line + "\n";
    }
    return table;
}
