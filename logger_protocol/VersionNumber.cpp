#include "VersionNumber.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

}  // namespace

int ScanVersion(const char* text, int32_t* number)
{
    if (!text)
        return 0;
    const char* p = SkipBlanks(text);
    if (!IsDigit(*p))
        return 0;
    int32_t major = 0;
    for (; IsDigit(*p); ++p) {
        major = major * 10 + (*p - '0');
        if (major > kMaxVersionMajor)
            return 0;
    }
    if (*p != '.')
        return 1;
    p = SkipBlanks(p + 1);
    if (!IsDigit(*p))
        return 1;
    const int32_t minor = *p - '0';
    p = SkipBlanks(p + 1);
    const bool hasPatch = IsDigit(*p);
    const int32_t patch = hasPatch ? *p - '0' : 0;
    if (number)
        *number = major * 100 + minor * 10 + patch;
    return hasPatch ? 3 : 2;
}
