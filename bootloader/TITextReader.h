// TITextReader: turns a TI-Text file into the compact image text that the
// bootloader is sent ("@AAAA" records of 4-digit words, high byte first) and
// the 16-word interrupt vector table.
//
// Data is classified word by word, not only by the address line before it,
// so a section that runs on across a boundary still lands in the right place:
// nothing is ever sent into the bootloader's own flash (0xFA00-0xFDFF), and a
// section running on into 0xFFE0 fills the vector table.
#pragma once

#include <cstdint>
#include <cstdio>

class TITextReader {
public:
    static constexpr uint32_t kVectorCount = 16;
    static constexpr uint32_t kMaxLine = 63;  // longer lines are read as several

    // Image characters a file of fileLength characters can produce at most:
    // a single two-digit byte on a line ("AB\n", or "AB" at the very end)
    // becomes a whole word of four characters.
    static uint32_t CapacityFor(uint32_t fileLength) { return 2 * fileLength + 8; }

    // image must hold `capacity` characters. On true, `length` characters of
    // image text and the vector table are filled; on false the file is not a
    // valid TI-Text file (and image/vectors hold partial data).
    TITextReader(char* image, uint32_t capacity, uint32_t* vectors);
    bool Read(std::FILE* file, uint32_t fileLength);
    uint32_t Length() const { return length_; }
    // After Read returned false: the line (from 1) where the file went wrong,
    // and what was expected there, for a person to mend the file.
    uint32_t ProblemLine() const { return lineNumber_; }
    const char* Problem() const { return problem_; }

private:
    enum class Section { None, Program, Bootloader, Vectors };
    bool Fail(const char* expected);
    bool AddressLine(const char* line);
    bool DataLine(const char* line);
    bool AddWord(const char* high, const char* low);
    bool Append(const char* text, uint32_t count);

    char* image_;
    uint32_t capacity_;
    uint32_t* vectors_;
    uint32_t length_ = 0;
    uint32_t address_ = 0;       // address of the next data word
    bool recordOpen_ = false;    // the image's last record continues at address_
    bool vectorsSeen_ = false;
    uint32_t lineNumber_ = 0;
    const char* problem_ = "";
};
