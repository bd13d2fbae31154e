#include "IdentifyDevice.h"

#include "Result.h"

DeviceReading IdentifyDevice(Kelo_protocol& instrument, const std::string& port)
{
    DeviceReading reading;
    DeviceIdentity& id = reading.identity;
    reading.connectResult = instrument.QPConnect(port.c_str(), device_line::kBaudIndex, device_line::kRetries, &id);
    reading.inLoader = result::InLoader(reading.connectResult);
    if (reading.connectResult >= 0) {
        if (IsInstrumentType(id.type) && instrument.GetInstInfo(inst_mask::kSn) > 0) {
            reading.serialNumber = instrument.InstrumentSettings().sn;
            reading.serialNumberRead = true;
        }
        if (IsLoggerType(id.type)) {
            LoggerInfo info{};
            uint32_t mask = logger_mask::kSn;
            if (instrument.Protocol().DeviceSettings(&info, &mask, 0) >= 0 && (mask & logger_mask::kSn)) {
                reading.serialNumber = info.sn;
                reading.serialNumberRead = true;
            }
        }
        int percent = -1;
        if (id.checkBattery && instrument.QPCheckBattery(&percent) > 0)
            reading.battery = percent;
    }
    instrument.QPDisconnect();
    return reading;
}
