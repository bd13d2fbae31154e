#include "TITextReader.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kBootloaderStart = 0xFA00;
constexpr uint32_t kBootloaderLast = 0xFDFE;
constexpr uint32_t kVectorStart = 0xFFE0;
constexpr uint32_t kMaxTokens = 16;

bool IsHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

TITextReader::TITextReader(char* image, uint32_t capacity, uint32_t* vectors)
    : image_(image), capacity_(capacity), vectors_(vectors)
{
}

bool TITextReader::Read(std::FILE* file, uint32_t fileLength)
{
    for (uint32_t i = 0; i < kVectorCount; ++i)
        vectors_[i] = 0xFFFF;
    length_ = 0;
    recordOpen_ = false;
    vectorsSeen_ = false;
    lineNumber_ = 0;
    problem_ = "";

    char line[kMaxLine + 1];
    uint32_t consumed = 0;
    bool first = true;
    bool endSeen = false;
    bool lineEnded = true;  // a long line comes in several pieces
    while (consumed < fileLength && std::fgets(line, sizeof line, file)) {
        // fgets stops at a NUL byte only by accident; count what it stored.
        const uint32_t stored = static_cast<uint32_t>(std::strlen(line));
        consumed += stored;
        if (lineEnded)
            ++lineNumber_;
        lineEnded = stored > 0 && line[stored - 1] == '\n';
        if (first && line[0] != '@')
            return Fail("an address line (@ and four hex digits) at the start of the file");
        first = false;
        if (line[0] == 'q') {
            endSeen = true;
            break;
        }
        if (line[0] == '\0')
            break;
        if (line[0] == '@' ? !AddressLine(line) : !DataLine(line))
            return Fail(line[0] == '@' ? "an address line: @ and four hex digits"
                                       : "bytes of two hex digits each, separated by blanks");
    }
    if (first)
        return Fail("an address line (@ and four hex digits); the file is empty");
    if (!vectorsSeen_)
        return Fail("the interrupt vectors (a section at @FFE0) before the end");
    if (!endSeen)
        return Fail("the end mark \"q\" on a line of its own");
    return true;
}

bool TITextReader::Fail(const char* expected)
{
    problem_ = expected;
    return false;
}

// "@" and exactly four hex digits: anything else would reach the instrument
// only after its flash was erased.
bool TITextReader::AddressLine(const char* line)
{
    for (int i = 1; i <= 4; ++i)
        if (!IsHex(line[i]))
            return false;
    for (const char* p = line + 5; *p; ++p)
        if (!IsSpace(*p))
            return false;
    unsigned address = 0;
    if (std::sscanf(line, "@%x", &address) != 1)
        return false;
    address_ = address;
    recordOpen_ = false;
    if (address >= kVectorStart) {
        vectorsSeen_ = true;
    } else if (address < kBootloaderStart || address > kBootloaderLast) {
        if (!Append(line, 5))
            return false;
        recordOpen_ = true;
    }
    return true;
}

bool TITextReader::DataLine(const char* line)
{
    // Up to 16 tokens of exactly two hex digits; further ones are ignored.
    const char* tokens[kMaxTokens + 1];
    uint32_t count = 0;
    const char* p = line;
    while (count < kMaxTokens) {
        while (*p && IsSpace(*p))
            ++p;
        if (!*p)
            break;
        const char* start = p;
        while (*p && !IsSpace(*p))
            ++p;
        if (p - start != 2 || !IsHex(start[0]) || !IsHex(start[1]))
            return false;
        tokens[count++] = start;
    }
    static const char kFill[] = "FF";
    if (count % 2)
        tokens[count++] = kFill;
    for (uint32_t i = 0; i < count; i += 2)
        if (!AddWord(tokens[i + 1], tokens[i]))
            return false;
    return true;
}

bool TITextReader::AddWord(const char* high, const char* low)
{
    const uint32_t address = address_;
    address_ += 2;
    if (address >= kVectorStart) {
        recordOpen_ = false;
        vectorsSeen_ = true;
        // Words beyond the last vector (past 0xFFFF) have no meaning.
        if (address <= 0xFFFF) {
            char digits[5] = {high[0], high[1], low[0], low[1], '\0'};
            unsigned value = 0;
            std::sscanf(digits, "%x", &value);
            vectors_[(address - kVectorStart) / 2] = value;
        }
        return true;
    }
    // A word at an odd address touches two bytes: neither may be the bootloader's.
    if (address + 1 >= kBootloaderStart && address <= kBootloaderLast + 1) {
        recordOpen_ = false;  // never sent: the bootloader's own flash
        return true;
    }
    if (!recordOpen_) {
        // Program data resumes after a skipped stretch: a record of its own.
        char record[8];
        std::snprintf(record, sizeof record, "@%04X", static_cast<unsigned>(address));
        if (!Append(record, 5))
            return false;
        recordOpen_ = true;
    }
    char word[4] = {high[0], high[1], low[0], low[1]};
    return Append(word, 4);
}

bool TITextReader::Append(const char* text, uint32_t count)
{
    if (count > capacity_ - length_)
        return false;  // cannot happen with CapacityFor(); never write past the buffer
    std::memcpy(image_ + length_, text, count);
    length_ += count;
    return true;
}
