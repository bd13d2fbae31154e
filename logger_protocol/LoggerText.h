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

// The value line of a get answer: from start (the answer, or just past its
// first CR) past any line breaks, up to the next line break, which must be
// followed by nothing but line breaks and the prompt. False when the answer
// is framed otherwise, or the value holds a control character or a prompt:
// a flipped bit in the framing must not turn into a value.
inline bool ValueLine(const char* start, const char** value, std::size_t* length)
{
    const char* p = start;
    while (*p == '\r' || *p == '\n')
        ++p;
    const char* first = p;
    while (*p && *p != '\r' && *p != '\n') {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c > 0x7E || c == '>')
            return false;
        ++p;
    }
    const char* last = p;
    if (!*p)
        return false;
    while (*p == '\r' || *p == '\n')
        ++p;
    if (*p != '>')
        return false;
    for (++p; *p; ++p)
        if (*p != ' ' && *p != '\r' && *p != '\n')
            return false;
    *value = first;
    *length = static_cast<std::size_t>(last - first);
    return true;
}

// Reads exactly count whole numbers, blank-separated, that fill value's
// length bytes; false for fewer, more, or anything else between them.
inline bool WholeNumbers(const char* value, std::size_t length, long* out, int count)
{
    const char* p = value;
    const char* end = value + length;
    for (int i = 0; i < count; ++i) {
        while (p < end && *p == ' ')
            ++p;
        bool negative = false;
        if (p < end && (*p == '-' || *p == '+'))
            negative = *p++ == '-';
        if (p == end || *p < '0' || *p > '9')
            return false;
        long n = 0;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (n > 100000000L)
                return false;  // no setting holds a number this large
            n = n * 10 + (*p - '0');
        }
        out[i] = negative ? -n : n;
        if (p < end && *p != ' ')
            return false;
    }
    while (p < end && *p == ' ')
        ++p;
    return p == end;
}

inline bool Contains(const char* text, const char* what)
{
    return std::strstr(text, what) != nullptr;
}

}  // namespace logger_text
