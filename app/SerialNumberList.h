// A factory's list of serial numbers: a text file, one number a line, handed
// out in order, each to exactly one instrument.
//
// The file is the record. A line is a number, or a number, a tab and what
// became of it:
//
//   SN-0001<TAB>used 2026-12-08T11:40:02Z: Hydrova Series 3 on /dev/ttyUSB0, firmware 3.52
//   SN-0002<TAB>taken 2026-12-08T11:41:10Z: /dev/ttyUSB1, process 4711
//   SN-0003
//
// A number is taken before its instrument is touched, marked used once the
// instrument has read it back, and given back (its mark removed, so it is
// the head of the list again) when it was not written. A number an update
// took and never settled (the program died) stays taken: it may be in an
// instrument, so a person looks before deleting the mark. Blank lines and
// lines starting with '#' are kept as they are. Every change is made under
// a lock beside the file, so two programs never take the same number, and
// written durably.
#pragma once

#include <functional>
#include <string>

class SerialNumberList {
public:
    // history: the update history (history.jsonl); a number it shows as
    // written into an instrument is never handed out again.
    SerialNumberList(std::string path, std::string historyPath);

    const std::string& Path() const { return path_; }

    enum class Take { Taken, NoneLeft, Failed };
    // Takes the first free number for an update on port. Taken: *number is
    // set; numbers skipped on the way because the history shows them given
    // are marked used and named in *note. NoneLeft: *note says so. Failed:
    // *error says why the file could not be read or written.
    // problemOf: why a number cannot be written (too long ...), empty when
    // it can; such a number is marked skipped and named in *note too.
    Take TakeNext(const std::string& port, std::string* number, std::string* note, std::string* error,
                  const std::function<std::string(const std::string&)>& problemOf = nullptr);
    // TakeNext with what an instrument accepts as its serial number
    // (CheckNewSerialNumber): how an update takes its number.
    Take TakeForUpdate(const std::string& port, std::string* number, std::string* note, std::string* error);
    // The number TakeForUpdate would take now, without taking it, for a
    // window's box; empty when none is left or the file cannot be read.
    std::string PeekNext() const;

    // The instrument confirmed number: its mark becomes the used record.
    bool MarkUsed(const std::string& number, const std::string& device, const std::string& port,
                  const std::string& firmwareVersion, std::string* error);
    // number was not written: free again, at its place in the list.
    bool GiveBack(const std::string& number, std::string* error);
    // After the update that took number: used when the instrument read it
    // back (written: the number the update wrote and read back, empty when
    // none), else given back.
    bool Settle(const std::string& number, const std::string& written, const std::string& device,
                const std::string& port, const std::string& firmwareVersion, std::string* error);

private:
    // Rewrites the mark of number (empty: none) under the lock.
    bool Mark(const std::string& number, const std::string& mark, std::string* error);

    std::string path_;
    std::string historyPath_;
};

// Why sn cannot be written into an instrument as its new serial number, or
// empty when it can.
std::string CheckNewSerialNumber(const std::string& sn);
