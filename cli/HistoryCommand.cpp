#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "AppSetup.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "UpdateHistory.h"

namespace {

struct Entry {
    nlohmann::ordered_json record;
    std::size_t line;
};

// A field as table text: "-" for null or missing; control characters from
// a hand-edited file must not steer the terminal.
std::string Cell(const nlohmann::ordered_json& record, const char* key)
{
    const auto it = record.find(key);
    if (it == record.end() || it->is_null())
        return "-";
    std::string text = it->is_string() ? it->get<std::string>() : it->dump();
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text.empty() ? "-" : text;
}

std::string SecondsCell(const nlohmann::ordered_json& record)
{
    const auto it = record.find("seconds");
    if (it == record.end() || !it->is_number())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", it->get<double>());
    return text;
}

void PrintTable(const std::vector<Entry>& entries)
{
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"Time (UTC)", "Port", "Device", "Serial number", "Old -> new", "Result", "Seconds"});
    for (const Entry& e : entries)
        rows.push_back({Cell(e.record, "time"), Cell(e.record, "port"), Cell(e.record, "device"),
                        Cell(e.record, "serialNumber"),
                        Cell(e.record, "oldVersion") + " -> " + Cell(e.record, "newVersion"),
                        Cell(e.record, "words"), SecondsCell(e.record)});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ') : row[i];
        std::cout << line << '\n';
    }
}

}  // namespace

int RunHistoryCommand(const HistoryArgs& args)
{
    const std::string folder = args.dataDir.empty() ? DefaultDataFolder() : args.dataDir;
    const UpdateHistory history(folder);
    std::ifstream in(history.Path(), std::ios::binary);
    std::vector<Entry> entries;
    if (in) {
        std::string text;
        for (std::size_t line = 1; std::getline(in, text); ++line) {
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            if (text.empty())
                continue;
            // One broken line (a writer that died, a hand edit) hides only itself.
            nlohmann::ordered_json record = nlohmann::ordered_json::parse(text, nullptr, false);
            if (record.is_discarded() || !record.is_object() || !record.contains("time") ||
                !record["time"].is_string()) {
                std::cerr << "kelobsl-cli: " << history.Path() << " line " << line
                          << " is not a whole update record; skipped.\n";
                continue;
            }
            entries.push_back({std::move(record), line});
        }
        if (in.bad()) {
            std::cerr << "kelobsl-cli: cannot read " << history.Path() << ": " << std::strerror(errno) << ".\n";
            return exit_code::kUpdateFailed;
        }
    }

    // Newest first; records of one second keep the file's order, reversed.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const std::string& ta = a.record["time"].get_ref<const std::string&>();
        const std::string& tb = b.record["time"].get_ref<const std::string&>();
        return ta != tb ? ta > tb : a.line > b.line;
    });

    if (args.json) {
        auto list = nlohmann::ordered_json::array();
        for (Entry& e : entries)
            list.push_back(std::move(e.record));
        std::cout << list.dump() << '\n';
        return exit_code::kSuccess;
    }
    if (entries.empty()) {
        std::cout << "No updates are recorded in " << history.Path() << " yet.\n";
        return exit_code::kSuccess;
    }
    PrintTable(entries);
    return exit_code::kSuccess;
}
