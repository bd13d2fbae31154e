#include "SimInstrumentApp.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kAccessCode = "*4827";
constexpr const char* kBootWord = "ZUVA";

// Longest text each setting holds in the information flash; 0 for numbers.
std::size_t TextLimit(const std::string& key)
{
    if (key == "sn")
        return 15;
    if (key == "config")
        return 31;
    if (key == "fvals" || key == "uvals" || key == "adccal")
        return 63;
    if (key == "adc")
        return 16;
    return 0;
}

bool IsNumber(const std::string& text)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    std::strtol(text.c_str(), &end, 10);
    return end && *end == '\0';
}

}  // namespace

SimInstrumentApp::SimInstrumentApp(SimDeviceControl& device, const SimInstrumentModel& model)
    : device_(device), model_(model)
{
}

void SimInstrumentApp::SeedSettings(const SimInstrumentModel& model, const SimOptions& options,
                                    std::map<std::string, std::string>* settings)
{
    const std::map<std::string, std::string> factory = {
        {"sn", options.sn},
        {"lang", "2"},
        {"contr", "47"},
        {"units", "1"},
        {"int", "60"},
        {"fvals", "0.125 1.500 2.750 4.000"},
        {"uvals", "10 20 30 40"},
        {"adc", "A3F0-1207"},
        {"adccal", "512 498 1.0032 -0.0041"},
        {"config", "CH1=ON CH2=OFF AVG=8"},
    };
    for (const std::string& key : model.settings) {
        auto it = factory.find(key);
        if (it != factory.end())
            (*settings)[key] = it->second;
    }
}

bool SimInstrumentApp::Keeps(const std::string& key) const
{
    for (const std::string& k : model_.settings)
        if (k == key)
            return true;
    return false;
}

void SimInstrumentApp::Answer(const std::string& text)
{
    device_.Line().Send("\r" + text + "\r>");
}

void SimInstrumentApp::Confirm()
{
    // The fault answers a write with a bare line end and prompt: neither a
    // refusal nor the confirmation.
    if (device_.Options().HasFault("no-ok"))
        device_.Line().Send("\r>");
    else
        Answer("OK");
}

void SimInstrumentApp::OnBytes(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (line_.size() < 256)
                line_ += c;
            continue;
        }
        std::string command;
        command.swap(line_);
        if (!Execute(command))
            return;  // the bootloader has the line; this object is going away
    }
}

bool SimInstrumentApp::Execute(const std::string& command)
{
    const SimOptions& options = device_.Options();
    if (command.empty()) {
        Answer("");
        return true;
    }
    if (command == "get -ver") {
        Answer(options.FaultValue("version-line", device_.FirmwareVersionLine()));
        return true;
    }
    if (command == "get -batt") {
        Answer(options.FaultValue("battery-text", std::to_string(options.battery)));
        return true;
    }
    if (command == "post" || command == "post -init") {
        bool good = device_.FirmwareGood() && !options.HasFault("corrupt-firmware");
        Answer(good ? "Code Good!" : "Code Corrupt!");
        return true;
    }
    if (command == "yes") {
        Answer(options.HasFault("dataflash-fail") ? "DataFlash FAIL" : "OK");
        return true;
    }
    if (command.rfind("login", 0) == 0) {
        std::string code = command.size() > 6 ? command.substr(6) : "";
        loggedIn_ = command.size() > 5 && command[5] == ' ' && code == kAccessCode;
        Answer(loggedIn_ ? "OK" : "ERROR: access denied");
        return true;
    }
    if (command == "logout") {
        loggedIn_ = false;
        Answer("OK");
        return true;
    }
    if (command.rfind("boot ", 0) == 0) {
        if (command.substr(5) != kBootWord) {
            Answer("ERROR");
            return true;
        }
        device_.EnterBootloader();
        return false;
    }
    if (command.rfind("set -sec ", 0) == 0) {
        std::string value = command.substr(9);
        if (!IsNumber(value)) {
            Answer("ERROR");
            return true;
        }
        clockSeconds_ = std::strtol(value.c_str(), nullptr, 10);
        Confirm();
        return true;
    }
    if (command == "get -sec") {
        Answer(std::to_string(clockSeconds_));
        return true;
    }
    if (command.rfind("get -", 0) == 0) {
        Get(command.substr(5));
        return true;
    }
    if (command.rfind("set -", 0) == 0) {
        std::string rest = command.substr(5);
        std::size_t blank = rest.find(' ');
        if (blank == std::string::npos) {
            Answer("ERROR");
            return true;
        }
        Set(rest.substr(0, blank), rest.substr(blank + 1));
        return true;
    }
    Answer("?");
    return true;
}

void SimInstrumentApp::Get(const std::string& key)
{
    const SimOptions& options = device_.Options();
    if (!Keeps(key)) {
        Answer("?");
        return;
    }
    auto range = options.faults.equal_range("unreadable");
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == key) {
            Answer("ERROR");
            return;
        }
    }
    if (key == "sn" && options.HasFault("bare-sn")) {
        Answer("");
        return;
    }
    auto& settings = device_.Settings();
    auto it = settings.find(key);
    // A blank information flash holds nothing: only the prompt comes back.
    Answer(it == settings.end() ? "" : it->second);
}

void SimInstrumentApp::Set(const std::string& key, const std::string& value)
{
    if (!Keeps(key) || key == "int") {
        Answer("?");
        return;
    }
    if (model_.privileged && !loggedIn_) {
        Answer("ERROR: login required");
        return;
    }
    auto refused = device_.Options().faults.equal_range("unwritable");
    for (auto it = refused.first; it != refused.second; ++it) {
        if (it->second == key) {
            Answer("?");
            return;
        }
    }
    std::size_t limit = TextLimit(key);
    bool valid = limit ? (!value.empty() && value.size() <= limit) : IsNumber(value);
    if (!valid) {
        Answer("ERROR");
        return;
    }
    device_.Settings()[key] = value;
    device_.SettingsChanged();
    Confirm();
}
