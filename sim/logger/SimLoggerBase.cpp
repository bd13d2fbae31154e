#include "SimLoggerBase.h"

#include <cstdio>
#include <ctime>

SimLoggerBase::SimLoggerBase(SimDeviceControl& device, bool behindRadio)
    : device_(device), behindRadio_(behindRadio)
{
    const SimOptions& o = device.Options();
    asleep_ = behindRadio && !o.HasFault("awake");
    wakeNeeded_ = o.FaultNumber("wake-after", 800);
    silentAfter_ = o.HasFault("silent-after") ? o.FaultNumber("silent-after", 0) : -1;
}

void SimLoggerBase::OnBytes(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size && !left_; ++i) {
        char c = data[i];
        if (asleep_) {
            // A sleeping logger only notices the carriage returns of the wake
            // sequence; once it has heard enough it listens for a query.
            if (c == '\r' && ++wakeCount_ >= wakeNeeded_) {
                asleep_ = false;
                line_.clear();
            }
            continue;
        }
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (line_.size() < 256)
                line_ += c;
            continue;
        }
        std::string line;
        line.swap(line_);
        if (!line.empty())
            Line(line);
    }
}

void SimLoggerBase::Line(const std::string& line)
{
    ++commands_;
    if (silentAfter_ >= 0 && commands_ > silentAfter_)
        return;
    const SimOptions& options = device_.Options();
    const long slow = options.FaultNumber("slow", 0);
    const uint32_t delayMs = slow > 0 ? static_cast<uint32_t>(slow) : 0;
    std::string refused = options.FaultValue("refuse");
    if (!refused.empty() && line.rfind(refused, 0) == 0) {
        device_.Line().Send("\rERROR\r>", delayMs);
        return;
    }
    // set-fail=KEY: "set -KEY ..." is answered with the bare prompt and not carried out.
    auto failing = options.faults.equal_range("set-fail");
    for (auto it = failing.first; it != failing.second; ++it) {
        if (line.rfind("set -" + it->second + " ", 0) == 0) {
            device_.Line().Send("\r>", delayMs);
            return;
        }
    }
    std::string answer = Handle(line);
    if (!left_ && !answer.empty())
        device_.Line().Send(answer, delayMs);
}

std::string SimLoggerBase::Setting(const std::string& key, const std::string& fallback) const
{
    auto& settings = device_.Settings();
    auto it = settings.find("logger." + key);
    return it == settings.end() ? fallback : it->second;
}

void SimLoggerBase::SetSetting(const std::string& key, const std::string& value)
{
    device_.Settings()["logger." + key] = value;
    device_.SettingsChanged();
}

int64_t SimLoggerBase::ClockNow() const
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<int64_t>(timegm(&local)) + clockOffset_;
}

void SimLoggerBase::SetClock(int64_t wallSeconds)
{
    clockOffset_ += wallSeconds - ClockNow();
}

std::string SimLoggerBase::ClockText() const
{
    std::time_t t = static_cast<std::time_t>(ClockNow());
    std::tm f{};
    gmtime_r(&t, &f);
    char text[48];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %d:%02d:%02d", f.tm_year + 1900, f.tm_mon + 1,
                  f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
    return text;
}
