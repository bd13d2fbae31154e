#include "SimApp.h"

// Placeholder until the simulated instruments exist: no type word is claimed yet.
std::unique_ptr<SimApp> MakeInstrumentApp(SimDeviceControl&)
{
    return nullptr;
}
