// The command interpreter of a simulated instrument: version line, battery,
// firmware self-check, data erase, clock, privileged mode, boot command, and
// the get/set commands of the settings the model keeps in its information
// flash. Every answer is "\r", the text, "\r>" (a bare prompt: "\r\r>").
#pragma once

#include <string>
#include <vector>

#include "SimApp.h"

struct SimInstrumentModel {
    const char* word;                 // model word of the version line
    std::vector<std::string> settings;  // keys of its get/set commands
    bool privileged;                  // set commands need "login <code>" first
};

class SimInstrumentApp : public SimApp {
public:
    SimInstrumentApp(SimDeviceControl& device, const SimInstrumentModel& model);
    void OnBytes(const char* data, std::size_t size) override;

    // Factory values of a model's settings (what a new instrument holds).
    static void SeedSettings(const SimInstrumentModel& model, const SimOptions& options,
                             std::map<std::string, std::string>* settings);

private:
    // Returns false when the firmware handed the line to the bootloader.
    bool Execute(const std::string& command);
    void Answer(const std::string& text);
    // Every answer leaves through here: the slow fault delays it.
    void Send(const std::string& bytes);
    // The answer to "get -KEY", with a framing fault applied when one is set.
    void AnswerGet(const std::string& key, const std::string& value);
    bool FaultNames(const char* fault, const std::string& key) const;
    void Confirm();  // a write command's answer
    void Get(const std::string& key);
    void Set(const std::string& key, const std::string& value);
    bool Keeps(const std::string& key) const;

    SimDeviceControl& device_;
    const SimInstrumentModel& model_;
    std::string line_;
    bool loggedIn_ = false;
    bool snWritten_ = false;  // bare-sn: a serial number was written since the start
    long clockSeconds_ = 0;
    std::map<std::string, int> flipped_;  // frame-flip-once: keys already garbled
};
