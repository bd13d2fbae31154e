// One port's update, the same in a run of one port and in a run of several:
// its own state, image, log and settings file, the workflow behind a CliUi
// that shows itself through the sink, and what came of it.
#pragma once

#include <memory>
#include <string>

#include "FirmwareImage.h"

#include "Commands.h"
#include "ResultTable.h"
#include "UiSinks.h"

struct PortRun {
    PortResult row;            // the summary's row: port, device, versions, exit code, seconds, message
    int result = 0;            // the workflow's result
    std::string setupError;    // the start-up failed: nothing ran
    std::string fileProblem;   // the firmware file was refused: no device was touched
    std::string deviceName;    // the device type this update was for
    std::string settingsKept;  // the pending settings file left after a failure or an incomplete restore
    std::string log;           // the log file, when one was written
    std::string settingsNote;  // why the settings were not (fully) restored
    bool leftInLoader = false;
    std::string newSerialNumber;  // written into the device and read back; empty when none was
    std::string numberNote;       // what the serial number list said (numbers skipped, none left)
};

// args.port is the port. With args.newSnFrom the device's new serial number
// is taken from that list first (none left: nothing is touched), marked used
// once the device read it back, else given back. fileTag names it in the file names of a run of
// several ports (empty: today's names). image: the firmware loaded once for
// every port of the run; null: args.firmware is loaded here (or the
// built-in image written).
PortRun UpdatePort(const UpdateArgs& args, const std::string& fileTag, UiSink& sink,
                   const std::shared_ptr<const FirmwareImage>& image = nullptr);
