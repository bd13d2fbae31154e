#include "SimOldLogger.h"

#include <cstdio>
#include <ctime>

namespace {

const std::string kPrompt = "\r>";

}  // namespace

SimOldLogger::SimOldLogger(SimDeviceControl& device, bool behindRadio)
    : SimLoggerBase(device, behindRadio), modem_(device, nullptr, "logger.")
{
}

void SimOldLogger::OnBytes(const char* data, std::size_t size)
{
    if (!modem_.InCommandMode() && termLine_.empty() && !terminal_) {
        SimLoggerBase::OnBytes(data, size);
        return;
    }
    // Terminal mode: the line belongs to the built-in modem until "term".
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        termLine_ += c;
        if (c == '\r') {
            if (termLine_ == "term\r") {
                terminal_ = false;
                termLine_.clear();
                device_.Line().Send(kPrompt);
                continue;
            }
            modem_.OnBytes(termLine_.data(), termLine_.size());
            termLine_.clear();
        } else if (termLine_ == "+++") {
            modem_.OnBytes(termLine_.data(), termLine_.size());
            termLine_.clear();
        }
    }
}

std::string SimOldLogger::VersionNumberText() const
{
    std::string line = device_.FirmwareVersionLine();
    std::size_t blank = line.find(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

std::string SimOldLogger::Handle(const std::string& line)
{
    const SimOptions& o = device_.Options();
    if (line == "show") {
        return "\rID: " + Name() + "\rVersion: " + VersionNumberText() + "\rRadio: " +
               Setting("rmode", "0") + "\rWake: " + Setting("wake", "60") + "\rResets: 2" + kPrompt;
    }
    if (line == "hertz")
        return "\r" + Setting("padc", "1000") + kPrompt;
    if (line == "time")
        return "\rDate\\Time: " + ClockText() + kPrompt;
    if (line == "term") {
        terminal_ = true;
        return "";
    }
    if (line == "yes")
        return o.HasFault("dataflash-fail") ? "\rDataFlash FAIL!" + kPrompt : "\rErase OK!" + kPrompt;
    if (line == "post")
        return device_.FirmwareGood() ? "\rCode Good!" + kPrompt : "\rCode Corrupt!" + kPrompt;
    if (line == "query")
        return Name() + "\r";
    if (line == "login" || line.rfind("login ", 0) == 0)
        return (behindRadio_ && line != "login " + Name()) ? "" : kPrompt;
    if (line == "logout") {
        if (behindRadio_) {
            GoToSleep();
            return "";
        }
        return kPrompt;
    }
    if (line.rfind("boot ", 0) == 0) {
        left_ = true;
        device_.EnterBootloader();
        return "";
    }
    int a = 0, b = 0, c = 0;
    char key[8] = {};
    if (std::sscanf(line.c_str(), "set -%1[pwri] %d", key, &a) == 2 && a >= 0) {
        static const char* const kKeys[] = {"padc", "wake", "rmode"};
        const char* which = key[0] == 'p' ? kKeys[0] : key[0] == 'w' ? kKeys[1] : kKeys[2];
        if (key[0] != 'i') {
            SetSetting(which, std::to_string(a));
            return kPrompt;
        }
    }
    if (line.rfind("set -i ", 0) == 0 && line.size() > 7 && line.size() <= 15) {
        SetSetting("name", line.substr(7));
        return kPrompt;
    }
    if (std::sscanf(line.c_str(), "set -t %d:%d:%d", &a, &b, &c) == 3 ||
        std::sscanf(line.c_str(), "set -d %d-%d-%d", &a, &b, &c) == 3) {
        bool date = line[5] == 'd';
        std::time_t now = static_cast<std::time_t>(ClockNow());
        std::tm f{};
        gmtime_r(&now, &f);
        if (date) {
            f.tm_year = a - 1900;
            f.tm_mon = b - 1;
            f.tm_mday = c;
        } else {
            f.tm_hour = a;
            f.tm_min = b;
            f.tm_sec = c;
        }
        SetClock(static_cast<int64_t>(timegm(&f)));
        return kPrompt;
    }
    return "\r?" + kPrompt;  // everything else, "get -ver" included, is unknown here
}
