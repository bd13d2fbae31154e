#include "SimApp.h"

// Placeholder until the simulated loggers exist: no type word is a logger yet.
std::unique_ptr<SimApp> MakeLoggerApp(SimDeviceControl&)
{
    return nullptr;
}
