#include "SimTz9Modem.h"

#include <cctype>

namespace {

bool IsHex(const std::string& text)
{
    if (text.empty() || text.size() > 4)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace

SimTz9Modem::SimTz9Modem(SimDeviceControl& device, std::unique_ptr<SimApp> far, std::string prefix)
    : device_(device), far_(std::move(far)), prefix_(std::move(prefix))
{
}

std::string SimTz9Modem::Setting(const std::string& key, const std::string& fallback) const
{
    auto& settings = device_.Settings();
    auto it = settings.find(prefix_ + key);
    return it == settings.end() ? fallback : it->second;
}

void SimTz9Modem::OnBytes(const char* data, std::size_t size)
{
    if (commandMode_) {
        AtBytes(data, size);
        return;
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '+') {
            if (++pluses_ == 3) {
                // The escape is never relayed; the bytes before it are.
                std::size_t plusStart = i + 1 >= 3 ? i + 1 - 3 : 0;
                if (plusStart > from)
                    Relay(data + from, plusStart - from);
                pluses_ = 0;
                commandMode_ = true;
                device_.Line().Send("OK\r");
                AtBytes(data + i + 1, size - i - 1);
                return;
            }
            continue;
        }
        pluses_ = 0;
    }
    Relay(data + from, size - from);
}

void SimTz9Modem::Relay(const char* data, std::size_t size)
{
    if (size == 0)
        return;
    if (device_.Options().HasFault("relay-echo"))
        device_.Line().Send(std::string(data, size));
    if (far_)
        far_->OnBytes(data, size);
}

void SimTz9Modem::OnTick(uint32_t nowMs)
{
    if (far_)
        far_->OnTick(nowMs);
}

void SimTz9Modem::AtBytes(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size && commandMode_; ++i) {
        char c = data[i];
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (line_.size() < 64)
                line_ += c;
            continue;
        }
        std::string line;
        line.swap(line_);
        if (line.empty())
            continue;
        std::string answer = AtCommand(line);
        device_.Line().Send(answer);
    }
}

std::string SimTz9Modem::AtCommand(const std::string& line)
{
    std::string upper;
    for (char c : line)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.rfind("AT", 0) != 0)
        return "ERROR\r";
    std::string command = upper.substr(2, 2);
    std::string value = upper.size() > 4 ? upper.substr(4) : "";
    if (command == "HP" || command == "DT") {
        std::string& pending = command == "HP" ? pendingHp_ : pendingDt_;
        std::string stored = Setting(command == "HP" ? "rch" : "rsch", command == "HP" ? "1" : "1234");
        if (value.empty())
            return (pending.empty() ? stored : pending) + "\r";
        if (!IsHex(value) || (command == "HP" && std::stoul(value, nullptr, 16) > 6))
            return "ERROR\r";
        pending = value;
        return "OK\r";
    }
    if (command == "VR" && value.empty())
        return "1043\r";
    if (command == "WR" && value.empty()) {
        if (!pendingHp_.empty())
            device_.Settings()[prefix_ + "rch"] = pendingHp_;
        if (!pendingDt_.empty())
            device_.Settings()[prefix_ + "rsch"] = pendingDt_;
        pendingHp_.clear();
        pendingDt_.clear();
        device_.SettingsChanged();
        return "OK\r";
    }
    if (command == "CN" && value.empty()) {
        commandMode_ = false;
        return "OK\r";
    }
    return "ERROR\r";
}
