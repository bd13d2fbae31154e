#include "TimeSplit.h"

bool SplitUtc(std::time_t t, std::tm* out)
{
    return gmtime_r(&t, out) != nullptr;
}

bool SplitLocal(std::time_t t, std::tm* out)
{
    return localtime_r(&t, out) != nullptr;
}
