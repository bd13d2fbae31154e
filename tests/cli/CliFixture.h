// A simulated device on a pseudo-terminal, a scratch folder for the
// updater's data, and a direct line to the device to look at it before and
// after an update.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "CliRunner.h"
#include "SimProcess.h"

// One command on the interpreter of the device on portPath, at 9600 baud;
// the answer without line ends and prompt, "<no port>" when it cannot be opened.
std::string AskDevice(const std::string& portPath, const std::string& command);

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts kelosim with a state file and a flash dump in the scratch folder.
    void StartSim(std::vector<std::string> args);
    void StopSim();
    // Stops the simulator and forgets its state: the next start is another device.
    void NewDevice();
    // The port the updates are given: a fixed link to the simulator's
    // pseudo-terminal, as a /dev/serial/by-id name is, so that a device
    // restarted by a test is on the same port.
    const std::string& Port() const { return link_; }
    // The next start puts the device on another port (as moving its cable
    // does): path, or a new one of the fixture's own.
    void MovePort(const std::string& path = "");
    // kelobsl-cli update --port <Port()> --data-dir <scratch> [--demo-image] + extra;
    // --demo-image unless extra names a --firmware.
    CliRun Update(std::vector<std::string> extra = {}, const CliRunOptions& options = {});
    // One command on the device's interpreter; the answer without the echo
    // of the line end and the prompt.
    std::string Ask(const std::string& command);
    // A firmware file made by mkfirmware in the scratch folder.
    std::string MakeFirmware(const std::string& fileName, const std::string& type, const std::string& version);
    std::string SettingsFile() const;
    std::string ReadFile(const std::string& path) const;
    // The records of history.jsonl in the data folder, in the order written.
    std::vector<nlohmann::json> History() const;
    static bool Contains(const std::string& text, const std::string& part)
    {
        return text.find(part) != std::string::npos;
    }

    std::string dir_;
    std::string state_;
    std::string flashDump_;
    std::string link_;
    SimProcess sim_;
    std::vector<std::string> simArgs_;
};
