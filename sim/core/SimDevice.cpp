// Minimal device: the application firmware only. The flash and the bootloader
// take their place here once they exist.
#include "SimDevice.h"

SimDevice::SimDevice(const SimOptions& options, SimLine& line) : options_(options), line_(line) {}

SimDevice::~SimDevice() = default;

bool SimDevice::Start(std::string*)
{
    inBootloader_ = options_.bootloader;
    if (!inBootloader_)
        app_ = MakeSimApp(*this);
    return true;
}

void SimDevice::OnBytes(const char* data, std::size_t size)
{
    retiredApp_.reset();
    if (app_ && !inBootloader_)
        app_->OnBytes(data, size);
}

void SimDevice::OnTick(uint32_t nowMs)
{
    retiredApp_.reset();
    if (app_ && !inBootloader_)
        app_->OnTick(nowMs);
}

void SimDevice::Shutdown() {}

void SimDevice::EnterBootloader()
{
    inBootloader_ = true;
    retiredApp_ = std::move(app_);
}

std::string SimDevice::FirmwareVersionLine() const
{
    return options_.type + " " + options_.version;
}

bool SimDevice::FirmwareGood() const
{
    return true;
}
