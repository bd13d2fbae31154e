// Small text helpers for parsing logger answers: every copy is bounded and
// terminated, every pointer stays inside its string.
#pragma once

#include <cstddef>
#include <cstring>

namespace logger_text {

// Copies at most max characters of src (stopping at stop or NUL) into dest
// of size destSize, always terminated. Returns the length copied.
inline std::size_t CopyUntil(char* dest, std::size_t destSize, const char* src, std::size_t max,
                             char stop = '\0')
{
    if (!dest || destSize == 0)
        return 0;
    std::size_t n = 0;
    if (src)
        while (n < max && n + 1 < destSize && src[n] && src[n] != stop)
            ++n;
    if (n)
        std::memmove(dest, src, n);
    dest[n] = '\0';
    return n;
}

// Where parsing starts "after the first CR": just past it, or the beginning.
inline const char* AfterFirstCr(const char* text)
{
    const char* cr = std::strchr(text, '\r');
    return cr ? cr + 1 : text;
}

// text + skip, but never past the terminating NUL.
inline const char* Skip(const char* text, std::size_t skip)
{
    std::size_t n = strnlen(text, skip);
    return text + n;
}

inline bool Contains(const char* text, const char* what)
{
    return std::strstr(text, what) != nullptr;
}

}  // namespace logger_text
