// The list of serial ports the person can pick from.
#pragma once

#include <cstddef>

#include "SerialBackend.h"

class KeloSerial;

// Port names hold any name KeloSerial accepts (Linux names such as ttyUSB10
// or /dev/serial/by-id/... do not fit Windows' six characters, and by-id
// names run past 100), and the display text holds the name, a blank and a
// description of up to 40.
struct CommPortEntry {
    char portName[serial_backend::kPortNameSize];
    char displayText[serial_backend::kPortNameSize + 48];
};

// Fills up to *count entries (in: capacity, out: entries filled). With
// findAll, also probes the first 16 names of the usual families and adds those
// that open. Returns the count, -10 for null arguments, -11 for capacity 0,
// -1 when the system's enumeration failed (logged).
int CommPortEnum(KeloSerial* serial, CommPortEntry* entries, int* count, bool findAll);

// The names findAll probes, in words for a help text: "COM1 to COM16".
const char* CommPortProbedNames();

namespace comm_port_enum_detail {
// Shared by the platform strategies.
bool Contains(const CommPortEntry* entries, int filled, const char* name);
void SetEntry(CommPortEntry* entry, const char* name, const char* description);
// POSIX: reads the tty list from sysClassTty instead of /sys/class/tty and
// opens ports in devFolder instead of /dev, so tests can give the list
// something to find; nullptr for either restores the system's.
void SetSystemRoots(const char* sysClassTty, const char* devFolder);
}  // namespace comm_port_enum_detail
