// How a serial port's name becomes the path the system opens. On POSIX a
// bare name (ttyUSB0, pts/3) lives in /dev and a name starting with '/' is
// used as given (pseudo-terminals, /dev/serial/by-id/...); on Windows COM3
// becomes \\.\COM3, the device namespace that also reaches COM10 and above,
// and a name typed with its prefix (\\.\COM10) is used as given. Any length:
// made once per open, never on a serial line's hot path.
#pragma once

#include <string>

std::string PortDevicePath(const std::string& name);

// The port as a message names it: the path it opens on POSIX, the name as
// typed on Windows (COM3, where the prefix would only confuse).
std::string PortPathForPeople(const std::string& name);

// Whether two device paths reach one port: the same path, two links to one
// device (POSIX), or COM names that differ only in case (Windows).
bool SameDevicePath(const std::string& a, const std::string& b);

// The group to join to use the port at path: the one that owns it, when that
// group may read and write it; otherwise "dialout", the usual owner of serial
// ports on Debian.
std::string PortGroup(const std::string& path);
