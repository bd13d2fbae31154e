// Short, file-name-safe names for serial ports, for the files of one port in
// a run that updates several: "/dev/ttyUSB0" -> "ttyUSB0", "/dev/pts/7" ->
// "pts7", "/dev/serial/by-id/usb-FTDI_X-if00-port0" -> "usb-FTDI_X-if00-port0",
// "\\.\COM10" -> "COM10".
#pragma once

#include <string>
#include <vector>

std::string PortShortName(const std::string& port);

// One short name per port, in order; a name that an earlier port already has
// gets "-2", "-3" ... so that no two ports share a file.
std::vector<std::string> PortShortNames(const std::vector<std::string>& ports);

// Whether two port names mean the same port: "ttyUSB0" and "/dev/ttyUSB0",
// or two links to one device.
bool SamePort(const std::string& a, const std::string& b);
