#include "TimeSplit.h"

bool SplitUtc(std::time_t t, std::tm* out)
{
    return gmtime_s(out, &t) == 0;
}

bool SplitLocal(std::time_t t, std::tm* out)
{
    return localtime_s(out, &t) == 0;
}
