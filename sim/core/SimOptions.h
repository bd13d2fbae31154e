// Command-line options of kelosim.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct SimOptions {
    std::string type = "R7F";        // model word of the simulated device
    std::string version = "3.51";    // firmware version the device starts with
    std::string sn = "KS000123";     // serial number
    int battery = 80;                 // percent
    bool bootloader = false;          // start inside the bootloader
    bool radio = false;               // put a radio modem between host and logger
    std::string stateFile;            // flash, settings and data survive restarts
    std::string flashDump;            // 64 KiB raw image written on exit
    std::string link;                 // symlink to the pseudo-terminal
    std::string statsFile;            // "rx=N tx=N": bytes in and out, written on exit
    uint32_t paceBaud = 0;            // 0: no pacing, else bytes move at this rate
    uint32_t restartMs = 1500;        // time the device takes to restart
    bool trace = false;               // every byte to stderr
    // A station's tray: devices plugged in one after another on --link.
    uint32_t devices = 1;             // how many, each with a fresh flash and settings
    uint32_t leaveIdleMs = 0;         // 0: stays; else leaves this long after its update went quiet
    uint32_t gapMs = 1000;            // from one device leaving to the next appearing
    bool keepPort = false;            // the devices share one port that stays (a fixed serial port)
    std::multimap<std::string, std::string> faults;  // --fault NAME[=VALUE]

    bool HasFault(const std::string& name) const { return faults.count(name) != 0; }
    // The fault's value, or fallback when absent or given without a value.
    std::string FaultValue(const std::string& name, const std::string& fallback = "") const;
    long FaultNumber(const std::string& name, long fallback) const;
    // The serial number of the n-th device (from 0) of a tray: --sn may list
    // one per device, separated by commas; the last one repeats.
    std::string SerialNumberOf(uint32_t n) const;
};

// Parses argv; on a bad option prints the reason and returns false.
bool ParseSimOptions(int argc, char** argv, SimOptions* options);
void PrintSimHelp();
