// Unfinished updates: a settings save opens one, and it stays open until the
// settings are written back and read back equal, or the person ends it by an
// answer. The pending settings file holds the values; a record beside it
// ("<file>.update") holds whose they are: device, serial number, port, time.
// Both live in the data folder, so they outlast the program and a move of the
// instrument to another port.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

struct UnfinishedUpdate {
    std::string file;          // the pending settings file
    std::string device;        // the device name its file is named after ("JT5 Pro")
    std::string serialNumber;  // empty when the instrument had none
    std::string port;          // the port as given
    std::string resolvedPort;  // the device node it led to when saved
    bool portIsLink = false;   // the given name is a link that names the adapter (/dev/serial/by-id/...)
    bool severalPorts = false; // saved by a run that updated several ports at once
    std::time_t saved = 0;
    std::string archive;       // the archive's copy of the file
    // False for a file left by an earlier version without a record: its port
    // is not known, so it is never restored without the person's answer.
    bool recorded = false;
};

// A port as given and the device node it leads to.
struct PortName {
    std::string given;
    std::string resolved;
    bool link = false;
};
PortName NameOfPort(const std::string& given);

// Whether update was saved on port. Two links are compared by name (a
// /dev/serial/by-id name stays with its adapter when the system numbers the
// ports anew); otherwise the device nodes are.
bool SamePort(const UnfinishedUpdate& update, const PortName& port);

namespace unfinished {

std::string RecordPath(const std::string& file);  // "<file>.update"
std::string LockPath(const std::string& file);    // "<file>.lock", never deleted or renamed

// Writes update's record beside its file: to a temporary name, flushed,
// renamed over the old record and the folder flushed. Empty, or what failed
// in words.
std::string Open(const UnfinishedUpdate& update);
// The update is finished: its file and record go (the lock file stays, as
// another program may be waiting on it).
void End(const std::string& file);
// The pending file's record; without one, what the file itself says
// (recorded false, port unknown). device is the name it is filed under.
UnfinishedUpdate Read(const std::string& file, const std::string& device);
// Every pending settings file of the device named device in folder: its own
// name, the names of several-port runs ("<device>-<port>") and the numbered
// names taken when another instrument's file had the name ("<device> (2)").
std::vector<UnfinishedUpdate> OfDevice(const std::string& folder, const std::string& device);
// base for n 1, else base with " (n)" before ".settings.txt".
std::string NumberedName(const std::string& base, int n);

}  // namespace unfinished

// Whose settings a device found in its firmware loader gets. Such a device
// cannot say who it is: it gets the one unfinished update of its type that a
// one-port run left on this same port; any other case is the person's choice.
enum class LoaderMatch { NothingToRestore, Restore, Ask };
LoaderMatch MatchInLoader(const std::vector<UnfinishedUpdate>& candidates, const PortName& port, std::size_t* which);
