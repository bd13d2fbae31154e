// The update history: history.jsonl in the data folder, one UpdateRecord a
// line, only ever appended to. Several threads and several processes may
// append at once: each line goes out in one write to a file opened for
// appending, so lines never interleave.
#pragma once

#include <string>

#include "UpdateRecord.h"

class UpdateHistory {
public:
    static constexpr const char* kFileName = "history.jsonl";

    explicit UpdateHistory(const std::string& dataFolder);

    const std::string& Path() const { return path_; }
    // Adds the record as one line. A last line left without its line end (a
    // writer that died) first gets one, so the new record stays whole.
    // False with *error set when the file cannot be written.
    bool Append(const UpdateRecord& record, std::string* error) const;
    // A device left as it was (no firmware for its type, no serial number
    // left, a question nobody answered) adds its line as every update does:
    // result kLeftUntouched and why in words, and nothing written (no new
    // version, no new serial number: a number shown here would count as
    // given). device: what is known of it (port, type, serial number and
    // version as read).
    bool AppendUntouched(UpdateRecord device, const std::string& why, std::string* error) const;

private:
    std::string path_;
};
