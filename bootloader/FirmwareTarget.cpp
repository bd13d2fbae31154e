#include "FirmwareTarget.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace {

// Model words of the device-type table, rows 1 to 12.
constexpr const char* kModelWords[] = {"QX7", "QX7B", "QX70", "KS",       "LC",   "TELSO",
                                       "JV",  "WN30", "WN",   "NIVRA-TE", "MERV", "R7F"};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Above this a major is not a version the devices report (their own reading
// stops there too).
constexpr int kMaxMajor = 9999;

// The version is read from the whole file name, not from the name cut for
// display: "R7F-13-52" is 13.52, and a minor of one digit is tenths ("R7F-3-5"
// is 3.50, as a device's "3.5" reads). A major that is not all digits, or a
// minor of more than two digits, gives no version at all rather than a wrong one.
void ReadVersion(const char* base, FirmwareTarget* target)
{
    const char* end = std::strrchr(base, '.');
    if (!end)
        end = base + std::strlen(base);
    const char* first = std::find(base, end, '-');
    if (first == end)
        return;
    const char* second = std::find(first + 1, end, '-');
    if (second == end)
        return;
    int major = 0;
    const auto [majorEnd, majorError] = std::from_chars(first + 1, second, major);
    if (majorError != std::errc() || majorEnd != second || first + 1 == second || major > kMaxMajor)
        return;
    const char* minorEnd = second + 1;
    while (minorEnd < end && IsDigit(*minorEnd))
        ++minorEnd;
    const std::ptrdiff_t digits = minorEnd - (second + 1);
    if (digits < 1 || digits > 2)
        return;
    int minor = 0;
    std::from_chars(second + 1, minorEnd, minor);
    if (digits == 1)
        minor *= 10;
    target->version = 100 * major + minor;
    target->versionKnown = true;
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
        if (second)
            *second = '.';
    }
    ReadVersion(base, &target);
    return target;
}
