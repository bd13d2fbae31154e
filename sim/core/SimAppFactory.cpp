#include "SimApp.h"
#include "SimBasicApp.h"

std::unique_ptr<SimApp> MakeSimApp(SimDeviceControl& device)
{
    if (auto app = MakeLoggerApp(device))
        return app;
    if (auto app = MakeInstrumentApp(device))
        return app;
    return std::make_unique<SimBasicApp>(device);
}
