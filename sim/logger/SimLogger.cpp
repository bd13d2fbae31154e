#include "SimLogger.h"

#include <cstdio>
#include <ctime>
#include <sstream>
#include <vector>

namespace {

const std::string kOk = "\rOK\r>";
const std::string kError = "\rERROR\r>";

std::string Body(const std::string& text)
{
    return "\r" + text + "\r>";
}

bool Numbers(const std::string& text, std::vector<long>* out)
{
    std::istringstream in(text);
    long v;
    while (in >> v)
        out->push_back(v);
    return in.eof();
}

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

SimLogger::SimLogger(SimDeviceControl& device, bool behindRadio) : SimLoggerBase(device, behindRadio) {}

void SimLogger::OnBytes(const char* data, std::size_t size)
{
    // A host at another line rate than the logger's produces only framing
    // errors here: the logger hears nothing it can use.
    uint32_t host = device_.Line().HostBaud();
    if (host != 0 && host != deviceBaud_ && !behindRadio_)
        return;
    SimLoggerBase::OnBytes(data, size);
}

std::string SimLogger::Handle(const std::string& line)
{
    const SimOptions& o = device_.Options();
    if (line.rfind("get -", 0) == 0)
        return Get(line.substr(5));
    if (line.rfind("set -", 0) == 0) {
        std::string rest = line.substr(5);
        std::size_t blank = rest.find(' ');
        if (blank == std::string::npos)
            return kError;
        return Set(rest.substr(0, blank), rest.substr(blank + 1));
    }
    if (line == "post" || line == "post -init")
        return Body(device_.FirmwareGood() ? "Code Good!" : "Code Corrupt!");
    if (line == "yes")
        return o.HasFault("dataflash-fail") ? Body("DataFlash FAIL") : kOk;
    if (line == "query") {
        // Answered with the bare name and a CR: the radio host listens for the CR.
        return Name() + "\r";
    }
    if (line == "login" || line.rfind("login ", 0) == 0) {
        // Over the air only the logger whose name is called answers.
        if (behindRadio_ && line != "login " + Name())
            return "";
        return "\r>";
    }
    if (line == "logout") {
        if (behindRadio_) {
            GoToSleep();  // off the air until the next wake sequence
            return "";
        }
        return "\r>";
    }
    if (line.rfind("boot ", 0) == 0) {
        left_ = true;
        device_.EnterBootloader();
        return "";
    }
    return Body("Unsupported");
}

std::string SimLogger::Get(const std::string& what)
{
    const SimOptions& o = device_.Options();
    if (what == "ver")
        return Body(device_.FirmwareVersionLine());
    if (what == "i") {
        std::string name = Name();
        return name.empty() ? "\r\r>" : Body(name);  // an uninitialised logger: bare prompt
    }
    // A blank information flash reads as blank values, never as the factory
    // settings, so that a restore that did not happen shows.
    if (what == "sn") {
        std::string sn = Setting("sn", "");
        return sn.empty() ? "\r\r>" : Body(sn);
    }
    if (what == "w")
        return Body(Setting("wake", "0"));
    if (what == "padc")
        return Body(Setting("padc", "0"));
    if (what == "ports")
        return Body(Setting("ports", "0 0 0 0 0"));
    if (what == "adccal")
        return Body(Setting("adccal", "128 0 128 0 128 0 128 0 128 0 128"));
    if (what == "data")
        return Body(Setting("data", "0"));
    if (what == "r")
        return Body(Setting("rmode", "0"));
    if (what == "trait")
        return Body(o.HasFault("no-radio") ? "255" : "254");  // 255 - traits bits
    if (what == "rch")
        return RadioAnswer(Setting("rch", "1"));
    if (what == "rsch")
        return RadioAnswer(Setting("rsch", "0"));
    if (what == "rver")
        return RadioAnswer("1043");
    if (what == "t")
        return Body("Date\\Time: " + ClockText());
    if (what == "batt")
        return Body(std::to_string(o.battery));
    return Body("Unsupported");
}

// The logger asks its radio module and passes on the module's "OK" line.
std::string SimLogger::RadioAnswer(const std::string& value) const
{
    if (device_.Options().HasFault("no-radio"))
        return Body("No Radio");
    return Body("OK\r" + value);
}

std::string SimLogger::Set(const std::string& what, const std::string& value)
{
    std::vector<long> n;
    bool numeric = Numbers(value, &n);
    auto single = [&](const char* key) {
        if (!numeric || n.size() != 1 || n[0] < 0)
            return kError;
        SetSetting(key, std::to_string(n[0]));
        return kOk;
    };
    if (what == "i") {
        if (value.empty() || value.size() > 8 || value.find(' ') != std::string::npos)
            return kError;
        SetSetting("name", value);
        return kOk;
    }
    if (what == "sn") {
        if (value.empty() || value.size() > 15)
            return kError;
        SetSetting("sn", value);
        return kOk;
    }
    if (what == "w")
        return single("wake");
    if (what == "padc")
        return single("padc");
    if (what == "data")
        return single("data");
    if (what == "r")
        return single("rmode");
    if (what == "ports") {
        if (!numeric || n.size() != 5)
            return kError;
        SetSetting("ports", value);
        return kOk;
    }
    if (what == "adccal") {
        if (!numeric || n.size() != 11)
            return kError;
        long sum = 0;
        for (int i = 0; i < 10; ++i)
            sum += n[i];
        if (sum % 256 != n[10])
            return Body("ERROR: check value");
        SetSetting("adccal", value);
        return kOk;
    }
    if (what == "rch" || what == "rsch") {
        if (device_.Options().HasFault("no-radio"))
            return Body("No Radio");
        if (!IsHex(value))
            return kError;
        SetSetting(what, value);
        return Body("OK\r\rOK");  // the radio module's OK, then the logger's
    }
    if (what == "baud") {
        static const uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
        if (!numeric || n.size() != 1 || n[0] < 0 || n[0] > 4)
            return kError;
        device_.Line().Send(kOk);
        deviceBaud_ = kRates[n[0]];
        if (device_.Options().paceBaud != 0)
            device_.Line().SetPace(deviceBaud_);
        return "";
    }
    if (what == "t")
        return SetClockField(value, false);
    if (what == "d")
        return SetClockField(value, true);
    return Body("Unsupported");
}

std::string SimLogger::SetClockField(const std::string& value, bool date)
{
    int a = 0, b = 0, c = 0;
    if (std::sscanf(value.c_str(), date ? "%d-%d-%d" : "%d:%d:%d", &a, &b, &c) != 3)
        return kError;
    std::time_t now = static_cast<std::time_t>(ClockNow());
    std::tm f{};
    gmtime_r(&now, &f);
    if (date) {
        if (b < 1 || b > 12 || c < 1 || c > 31)
            return kError;
        f.tm_year = a - 1900;
        f.tm_mon = b - 1;
        f.tm_mday = c;
    } else {
        if (a < 0 || a > 23 || b < 0 || b > 59 || c < 0 || c > 59)
            return kError;
        f.tm_hour = a;
        f.tm_min = b;
        f.tm_sec = c;
    }
    SetClock(static_cast<int64_t>(timegm(&f)));
    return kOk;
}
