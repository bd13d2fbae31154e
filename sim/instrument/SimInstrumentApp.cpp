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

// The value a faulty information flash keeps instead of the one written: its
// last digit changed (or its last character, when it has no digit), so that
// it still looks like a value of its kind.
std::string Garbled(std::string value)
{
    for (std::size_t i = value.size(); i-- > 0;) {
        if (value[i] >= '0' && value[i] <= '9') {
            value[i] = value[i] == '9' ? '0' : static_cast<char>(value[i] + 1);
            return value;
        }
    }
    if (!value.empty())
        value.back() = value.back() == 'A' ? 'B' : 'A';
    return value;
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

void SimInstrumentApp::Send(const std::string& bytes)
{
    const long slow = device_.Options().FaultNumber("slow", 0);
    device_.Line().Send(bytes, slow > 0 ? static_cast<uint32_t>(slow) : 0);
}

void SimInstrumentApp::Answer(const std::string& text)
{
    Send("\r" + text + "\r>");
}

void SimInstrumentApp::Confirm()
{
    // The fault answers a write with a bare line end and prompt: neither a
    // refusal nor the confirmation.
    if (device_.Options().HasFault("no-ok"))
        Send("\r>");
    else
        Answer("OK");
}

// Whether a fault given as KEY or KEY:WHERE names key (any of its repeats).
bool SimInstrumentApp::FaultNames(const char* fault, const std::string& key) const
{
    auto range = device_.Options().faults.equal_range(fault);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second.substr(0, it->second.find(':')) == key)
            return true;
    return false;
}

// frame-flip=KEY[:WHERE] flips bit 3 of one framing byte of the answer to
// "get -KEY": WHERE is "before" (the CR before the value), "after" (the CR
// after it, the default) or "prompt". A CR becomes 0x05, the prompt '6'.
// frame-flip-once does so only for the first such answer.
void SimInstrumentApp::AnswerGet(const std::string& key, const std::string& value)
{
    std::string answer = "\r" + value + "\r>";
    const SimOptions& options = device_.Options();
    for (const char* fault : {"frame-flip", "frame-flip-once"}) {
        auto range = options.faults.equal_range(fault);
        for (auto it = range.first; it != range.second; ++it) {
            const std::string& spec = it->second;
            const std::size_t colon = spec.find(':');
            if (spec.substr(0, colon) != key)
                continue;
            if (std::strcmp(fault, "frame-flip-once") == 0 && flipped_[key]++ > 0)
                continue;
            const std::string where = colon == std::string::npos ? "after" : spec.substr(colon + 1);
            const std::size_t at = where == "before" ? 0 : where == "prompt" ? answer.size() - 1
                                                                            : answer.size() - 2;
            answer[at] = static_cast<char>(answer[at] ^ 0x08);
        }
    }
    Send(answer);
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
    // Uninitialised until a serial number is written, as a factory-new unit.
    if (key == "sn" && options.HasFault("bare-sn") && !snWritten_) {
        Answer("");
        return;
    }
    auto& settings = device_.Settings();
    auto it = settings.find(key);
    // A blank information flash holds nothing: only the prompt comes back.
    AnswerGet(key, it == settings.end() ? "" : it->second);
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
    if (FaultNames("set-fail", key)) {
        Send("\r>");  // neither refused nor confirmed, and nothing stored
        return;
    }
    device_.Settings()[key] = FaultNames("set-garble", key) ? Garbled(value) : value;
    device_.SettingsChanged();
    if (key == "sn")
        snWritten_ = true;
    Confirm();
}
