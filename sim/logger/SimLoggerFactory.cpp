// The simulated data loggers.
//
// Type words: QX70, QX7B, KS (HubTerminal) and LC (LinkCenter) run the new
// firmware; QX7 runs the old firmware (refuses "get -ver", answers "show").
// With --radio a Tz9 radio modem sits on the line and relays to the logger,
// which then sleeps until it has heard the wake sequence.
//
// Faults (--fault NAME[=VALUE]):
//   relay-echo        the modem (or, without --radio, the line) echoes every byte
//   silent-after=N    the logger answers N command lines, then nothing more
//   unnamed           the logger has no name yet: "get -i" gets the bare prompt
//   refuse=TEXT       command lines starting with TEXT are answered "ERROR"
//   no-radio          no radio module: "No Radio" to the radio commands
//   dataflash-fail    the erase confirmation answers "DataFlash FAIL"
//   awake             behind the radio: the logger starts awake
//   wake-after=N      behind the radio: carriage returns it must hear to wake (800)
//   blank-settings    the information flash starts blank, as after a firmware
//                     update that did not restore the settings
//
// A host whose line rate differs from the logger's (after "set -baud") is
// not understood at all.
#include <iterator>
#include <set>
#include <string>

#include "SimApp.h"
#include "SimLogger.h"
#include "SimOldLogger.h"
#include "SimTz9Modem.h"

namespace {

// The information flash is seeded once per device, at power-on; after a
// firmware update it stays blank, as on the real logger.
void SeedSettings(SimDeviceControl& device)
{
    if (!device.TakePowerOn())
        return;
    auto& s = device.Settings();
    if (device.Options().HasFault("blank-settings")) {
        for (auto it = s.begin(); it != s.end();)
            it = it->first.rfind("logger.", 0) == 0 ? s.erase(it) : std::next(it);
        device.SettingsChanged();
        return;
    }
    for (const auto& entry : s)
        if (entry.first.rfind("logger.", 0) == 0)
            return;  // a --state file brought its own
    const SimOptions& o = device.Options();
    if (!o.HasFault("unnamed"))
        s["logger.name"] = "FIELD01";
    s["logger.sn"] = o.sn;
    s["logger.wake"] = "60";
    s["logger.padc"] = "1000";
    s["logger.ports"] = "1 2 3 4 5";
    s["logger.adccal"] = "130 2 128 4 126 6 129 8 127 10 158";
    s["logger.data"] = "5";
    s["logger.rmode"] = "1";
    s["logger.rch"] = "3";
    s["logger.rsch"] = "1234";
    device.SettingsChanged();
}

// Without a modem the echo fault sits on the line itself.
class SimEchoLine : public SimApp {
public:
    SimEchoLine(SimDeviceControl& device, std::unique_ptr<SimApp> inner)
        : device_(device), inner_(std::move(inner)) {}
    void OnBytes(const char* data, std::size_t size) override
    {
        device_.Line().Send(std::string(data, size));
        inner_->OnBytes(data, size);
    }
    void OnTick(uint32_t nowMs) override { inner_->OnTick(nowMs); }

private:
    SimDeviceControl& device_;
    std::unique_ptr<SimApp> inner_;
};

}  // namespace

std::unique_ptr<SimApp> MakeLoggerApp(SimDeviceControl& device)
{
    static const std::set<std::string> kNewFirmware = {"QX70", "QX7B", "KS", "LC"};
    const SimOptions& o = device.Options();
    std::unique_ptr<SimApp> logger;
    if (kNewFirmware.count(o.type))
        logger = std::make_unique<SimLogger>(device, o.radio);
    else if (o.type == "QX7")
        logger = std::make_unique<SimOldLogger>(device, o.radio);
    else
        return nullptr;
    SeedSettings(device);
    if (o.radio)
        return std::make_unique<SimTz9Modem>(device, std::move(logger), "modem.");
    if (o.HasFault("relay-echo"))
        return std::make_unique<SimEchoLine>(device, std::move(logger));
    return logger;
}
