#include "FirmwareTarget.h"

#include <cctype>
#include <cstring>

namespace {

// Model words of the device-type table, rows 1 to 12.
constexpr const char* kModelWords[] = {"QX7", "QX7B", "QX70", "KS",       "LC",   "TELSO",
                                       "JV",  "WN30", "WN",   "NIVRA-TE", "MERV", "R7F"};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int Digit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

}  // namespace

FirmwareTarget FirmwareTarget::FromPath(const char* path)
{
    FirmwareTarget target;
    if (!path)
        return target;
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;

    char* name = target.name;
    std::size_t n = std::strlen(base);
    if (n > kNameSize - 1)
        n = kNameSize - 1;
    std::memcpy(name, base, n);
    name[n] = '\0';
    if (char* dot = std::strrchr(name, '.'))
        *dot = '\0';

    // The first word ends at a blank, "-" or "_".
    char word[kNameSize];
    std::size_t w = std::strcspn(name, " -_");
    for (std::size_t i = 0; i < w; ++i)
        word[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    word[w] = '\0';
    for (int8_t i = 0; i < 12; ++i)
        if (std::strcmp(word, kModelWords[i]) == 0)
            target.type = static_cast<int8_t>(i + 1);

    char* first = std::strchr(name, '-');
    if (first) {
        *first = ' ';
        char* second = std::strchr(first + 1, '-');
        if (second) {
            *second = '.';
            // first precedes second, so the digit before it is inside the name.
            int major = Digit(second[-1]);
            int minor = Digit(second[1]);
            int patch = second[1] ? Digit(second[2]) : 0;
            target.version = 100 * major + 10 * minor + patch;
            target.versionKnown = IsDigit(second[-1]) && IsDigit(second[1]);
        }
    }
    return target;
}
