#include "SerialNumberList.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <vector>

#include "DurableFile.h"
#include "FileLock.h"
#include "UpdateRecord.h"

namespace {

constexpr const char* kTaken = "taken ";
constexpr const char* kUsed = "used ";
// The lock is held for a read and a write of a small file: a holder that
// keeps it longer than this is stuck.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 20;

struct Line {
    std::string text;    // as read, without its line end
    std::string number;  // empty for a blank line or a comment
    std::string mark;    // what follows the tab: empty while the number is free
};

struct ListFile {
    std::vector<Line> lines;
    bool crlf = false;  // the file's lines end in CR LF: kept so
};

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ReadList(const std::string& path, ListFile* list, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the serial number list " + path + ": check that it exists";
        return false;
    }
    std::string text;
    bool first = true;
    while (std::getline(in, text)) {
        if (first && !text.empty() && text.back() == '\r')
            list->crlf = true;
        first = false;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        Line line{text, {}, {}};
        const std::string trimmed = Trimmed(text);
        if (!trimmed.empty() && trimmed[0] != '#') {
            const auto tab = text.find('\t');
            line.number = Trimmed(text.substr(0, tab));
            if (tab != std::string::npos)
                line.mark = Trimmed(text.substr(tab + 1));
        }
        list->lines.push_back(std::move(line));
    }
    if (in.bad()) {
        *error = "cannot read the serial number list " + path;
        return false;
    }
    return true;
}

bool WriteList(const std::string& path, const ListFile& list, std::string* error)
{
    DurableFile file;
    int32_t result = file.Open(path.c_str());
    if (result > 0) {
        const char* end = list.crlf ? "\r\n" : "\n";
        for (const Line& line : list.lines) {
            const std::string text = line.number.empty() ? line.text
                                     : line.mark.empty() ? line.number
                                                         : line.number + "\t" + line.mark;
            std::fputs(text.c_str(), file.File());
            std::fputs(end, file.File());
        }
        result = file.Commit(path.c_str(), true);
    }
    if (result <= 0) {
        *error = "cannot write the serial number list " + path + ": " + DurableFile::ErrorText(result);
        return false;
    }
    return true;
}

// Takes the list's lock, waiting while another program holds it.
bool LockList(FileLock& lock, const std::string& path, std::string* error)
{
    for (int waited = 0;; waited += kLockPollMs) {
        const int result = lock.TryLock(path + ".lock");
        if (result == 1)
            return true;
        if (result < 0 || waited >= kLockWaitMs) {
            *error = "cannot lock the serial number list " + path +
                     (result < 0 ? ": its lock file cannot be made beside it"
                                 : ": another program holds it (" + FileLock::ReadHolder(path + ".lock") + ")");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
}

// When the update history shows number written into an instrument: the
// time of that update, else empty.
std::string GivenInHistory(const std::string& historyPath, const std::string& number)
{
    std::ifstream in(historyPath, std::ios::binary);
    std::string text;
    while (std::getline(in, text)) {
        if (text.find(number) == std::string::npos)
            continue;  // most lines: no need to parse them
        const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
        if (!record.is_object())
            continue;
        const auto written = record.find("newSerialNumber");
        if (written == record.end() || !written->is_string() || written->get<std::string>() != number)
            continue;
        const auto time = record.find("time");
        return time != record.end() && time->is_string() ? time->get<std::string>() : "an earlier update";
    }
    return {};
}

}  // namespace

SerialNumberList::SerialNumberList(std::string path, std::string historyPath)
    : path_(std::move(path)), historyPath_(std::move(historyPath))
{
}

SerialNumberList::Take SerialNumberList::TakeNext(const std::string& port, std::string* number,
                                                  std::string* note, std::string* error,
                                                  const std::function<std::string(const std::string&)>& problemOf)
{
    number->clear();
    note->clear();
    FileLock lock;
    ListFile list;
    if (!LockList(lock, path_, error) || !ReadList(path_, &list, error))
        return Take::Failed;
    const std::string now = IsoUtcTime(std::time(nullptr));
    bool changed = false;
    int used = 0;
    int taken = 0;
    std::set<std::string> seen;
    for (Line& line : list.lines) {
        if (line.number.empty())
            continue;
        if (!seen.insert(line.number).second && line.mark.empty()) {
            line.mark = kUsed + now + ": skipped, listed twice";
            *note += (note->empty() ? "" : "; ") + line.number + " is skipped: the list names it twice";
            changed = true;
        }
        if (!line.mark.empty()) {
            used += line.mark.rfind(kUsed, 0) == 0;
            taken += line.mark.rfind(kTaken, 0) == 0;
            continue;
        }
        if (const std::string problem = problemOf ? problemOf(line.number) : ""; !problem.empty()) {
            line.mark = kUsed + now + ": skipped, " + problem;
            *note += (note->empty() ? "" : "; ") + line.number + " is skipped: " + problem;
            changed = true;
            ++used;
            continue;
        }
        const std::string given = GivenInHistory(historyPath_, line.number);
        if (!given.empty()) {
            // The list names a number an instrument already carries.
            line.mark = kUsed + now + ": skipped, the update history shows it written on " + given;
            *note += (note->empty() ? "" : "; ") + line.number + " is skipped: the update history shows it written on " +
                     given;
            changed = true;
            ++used;
            continue;
        }
        line.mark = kTaken + now + ": " + port + ", process " + std::to_string(FileLock::ProcessId());
        if (!WriteList(path_, list, error))
            return Take::Failed;
        *number = line.number;
        return Take::Taken;
    }
    if (changed && !WriteList(path_, list, error))
        return Take::Failed;
    *note += std::string(note->empty() ? "" : "; ") + "no serial numbers left in " + path_ + " (" +
             std::to_string(used) + " used" +
             (taken ? ", " + std::to_string(taken) + " taken by updates that have not ended" : std::string()) +
             "): add numbers to it";
    return Take::NoneLeft;
}

SerialNumberList::Take SerialNumberList::TakeForUpdate(const std::string& port, std::string* number, std::string* note,
                                                       std::string* error)
{
    return TakeNext(port, number, note, error, [](const std::string& sn) { return CheckNewSerialNumber(sn); });
}

std::string SerialNumberList::PeekNext() const
{
    ListFile list;
    std::string error;
    if (!ReadList(path_, &list, &error))
        return {};
    // Passes over what TakeForUpdate skips, so that a window shows the
    // number its next update gets.
    std::set<std::string> seen;
    for (const Line& line : list.lines) {
        if (line.number.empty() || !seen.insert(line.number).second || !line.mark.empty())
            continue;
        if (CheckNewSerialNumber(line.number).empty() && GivenInHistory(historyPath_, line.number).empty())
            return line.number;
    }
    return {};
}

bool SerialNumberList::MarkUsed(const std::string& number, const std::string& device, const std::string& port,
                                const std::string& firmwareVersion, std::string* error)
{
    return Mark(number,
                kUsed + IsoUtcTime(std::time(nullptr)) + ": " + device + " on " + port + ", firmware " +
                    (firmwareVersion.empty() ? "unknown" : firmwareVersion),
                error);
}

bool SerialNumberList::GiveBack(const std::string& number, std::string* error)
{
    return Mark(number, "", error);
}

bool SerialNumberList::Settle(const std::string& number, const std::string& written, const std::string& device,
                              const std::string& port, const std::string& firmwareVersion, std::string* error)
{
    return written == number ? MarkUsed(number, device, port, firmwareVersion, error) : GiveBack(number, error);
}

bool SerialNumberList::Mark(const std::string& number, const std::string& mark, std::string* error)
{
    FileLock lock;
    ListFile list;
    if (!LockList(lock, path_, error) || !ReadList(path_, &list, error))
        return false;
    for (Line& line : list.lines) {
        // Only this program's own mark is settled: a number someone edited
        // meanwhile is left as it stands.
        if (line.number == number && line.mark.rfind(kTaken, 0) == 0) {
            line.mark = mark;
            return WriteList(path_, list, error);
        }
    }
    *error = "the serial number list " + path_ + " no longer shows " + number + " as taken; it was left as it is";
    return false;
}

std::string CheckNewSerialNumber(const std::string& sn)
{
    if (sn.empty())
        return "the new serial number is empty";
    for (unsigned char c : sn)
        if (c < 0x20 || c == 0x7F)
            return "the new serial number holds a control character; use letters, digits and punctuation only";
    if (sn.size() > 15)
        return "the new serial number has " + std::to_string(sn.size()) +
               " characters; a device holds at most 15";
    return {};
}
