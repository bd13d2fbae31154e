// The transfers of KeloBSLHost: flash erase, image write and vector write.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BslLog.h"
#include "KeloBSLHost.h"
#include "Result.h"
#include "Timing.h"

namespace {

constexpr uint32_t kSegmentSize = 512;
constexpr uint32_t kInfoSegmentSize = 128;

constexpr int32_t kNoAddress = -1;

// The record address of an "@": four hex digits, else kNoAddress (the loader
// refuses it too).
int32_t RecordAddress(const char* text, uint32_t length)
{
    if (length != 4)
        return kNoAddress;
    char digits[5] = {};
    for (uint32_t i = 0; i < 4; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return kNoAddress;
        digits[i] = text[i];
    }
    return static_cast<int32_t>(std::strtol(digits, nullptr, 16));
}

// Where a piece of a record begins: the record's address plus the bytes of
// the record already written; -1 while the address is unknown.
int32_t PieceAddress(int32_t recordAddress, uint32_t recordBytes)
{
    return recordAddress < 0 ? kNoAddress : recordAddress + static_cast<int32_t>(recordBytes);
}

}  // namespace

bool KeloBSLHost::Progress(uint32_t total, uint32_t current, int phase, char kind)
{
    if (!progress_ || !progressHook_)
        return true;
    return progressHook_(total, current, phase, kind);
}

// A frame that heard nothing in its time may still be answered. Before it is
// repeated, wait that long once more and drop a late answer: otherwise it is
// read as the answer to the next frame, and every answer after it is one
// frame behind (a refusal would then be pinned on the wrong frame).
void KeloBSLHost::DropLateAnswer(int result, uint32_t attempt, char endChar)
{
    if (result != result::kNoAnswer || attempt + 1 >= tries_)
        return;
    if (port_.KSWait(kCommandTimeoutMs, endChar) > 0)
        BSL_LOG(30, "BSLCommand dropped an answer that came after its time-out");
}

int KeloBSLHost::CommandWithRetry(char command, const char* payload, uint32_t length, char endChar,
                                  char* answer)
{
    // At least one attempt, so that a host without a connection reports -21.
    int result = 0;
    uint32_t attempt = 0;
    do {
        uint32_t elapsed = 0;
        result = BSLCommand(command, payload, length, endChar, answer, &elapsed);
        DropLateAnswer(result, attempt, endChar);
    } while (result <= 0 && ++attempt < tries_);
    return result;
}

int KeloBSLHost::CommandWithRetry(char command, const uint32_t* words, uint32_t count, char endChar,
                                  char* answer, uint32_t* totalMs)
{
    int result = 0;
    uint32_t attempt = 0;
    do {
        uint32_t elapsed = 0;
        result = BSLCommand(command, words, count, endChar, answer, &elapsed);
        if (totalMs)
            *totalMs += elapsed;
        DropLateAnswer(result, attempt, endChar);
    } while (result <= 0 && ++attempt < tries_);
    return result;
}

// A "W" whose answer came late may already be written, and the loader has
// moved its address on. So every repeat of a piece first sets the address
// back to where the piece begins (when the record's address is known): the
// copy then lands on the same bytes, which the flash takes unchanged.
int KeloBSLHost::WriteWithRetry(uint32_t length, int32_t address, char* answer)
{
    int result = 0;
    uint32_t attempt = 0;
    do {
        if (attempt > 0 && address >= 0) {
            char text[5];
            std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(address & 0xFFFF));
            BSL_LOG(30, "BSLSendFirmware sends the address %s again before it repeats a write", text);
            uint32_t elapsed = 0;
            result = BSLCommand('@', text, 4, '\r', answer, &elapsed);
            DropLateAnswer(result, attempt, '\r');
            if (result <= 0)
                continue;  // the address was not taken: the data would land elsewhere
        }
        uint32_t elapsed = 0;
        result = BSLCommand('W', payload_, length, '\r', answer, &elapsed);
        DropLateAnswer(result, attempt, '\r');
    } while (result <= 0 && ++attempt < tries_);
    return result;
}

int KeloBSLHost::BSLEraseFlash(uint32_t start, uint32_t end)
{
    const uint32_t begin = TickMs();
    const uint32_t total = end > start ? (end - start) / kSegmentSize : 0;
    uint32_t step = kSegmentSize;
    uint32_t address = start;
    uint32_t segment = 0;
    // Nothing to erase is no failure.
    int result = 1;
    char answer[kAnswerCapacity + 1];

    while (address < end) {
        if (segment % 10 == 0 && !Progress(total, (address - start) / kSegmentSize, 1, 'X')) {
            result = result::kStopped;
            break;
        }
        ++segment;
        uint32_t word = address;
        result = CommandWithRetry('X', &word, 1, '\r', answer, nullptr);
        // The information flash is erased in 128-byte segments.
        if (address == 0x1000)
            step = kInfoSegmentSize;
        else if (address == 0x1100)
            step = kSegmentSize;
        if (result < 0)
            break;
        address += step;
    }
    Progress(total, total, 2, 'X');

    long seconds = static_cast<long>(ElapsedMs(begin, TickMs()) / 1000);
    if (result < 0)
        BSL_LOG(1, "BSLEraseFlash failed with error %d (%ld s)", result, seconds);
    else
        BSL_LOG(10, "BSLEraseFlash successful: segment %X to %X (%ld s)", static_cast<unsigned>(start),
                static_cast<unsigned>(end), seconds);
    return result;
}

int KeloBSLHost::BSLSendFirmware()
{
    const uint32_t begin = TickMs();
    if (!image_)
        return result::kBadArgument;
    // Held for the whole write: the text stays valid whatever SetImage does meanwhile.
    const std::shared_ptr<const FirmwareImage> image = image_;
    const char* const text = image->Text();
    const uint32_t length = image->Length();
    int result = 1;
    uint32_t pending = 0;
    uint32_t position = 0;
    int32_t recordAddress = kNoAddress;  // of the last "@"
    uint32_t recordBytes = 0;     // of that record in earlier pieces: two characters a byte
    char answer[kAnswerCapacity + 1];

    while (position < length && result >= 0) {
        if (position % kMaxPayloadChars == 0 && !Progress(length, position, 1, 'W')) {
            result = result::kStopped;
            break;
        }
        if (text[position] == '@') {
            if (pending) {
                result = WriteWithRetry(pending, PieceAddress(recordAddress, recordBytes), answer);
                if (result < 0)
                    break;
            }
            // A truncated record address is sent as it stands; the bootloader refuses it.
            uint32_t addressChars = length - position - 1 < 4 ? length - position - 1 : 4;
            std::memcpy(payload_, text + position + 1, addressChars);
            position += 1 + addressChars;
            result = CommandWithRetry('@', payload_, addressChars, '\r', answer);
            recordAddress = RecordAddress(payload_, addressChars);
            recordBytes = 0;
            pending = 0;
        } else {
            payload_[pending++] = text[position++];
            if (pending == kMaxPayloadChars) {
                result = WriteWithRetry(pending, PieceAddress(recordAddress, recordBytes), answer);
                if (result < 0)
                    break;
                recordBytes += pending / 2;
                pending = 0;
            }
        }
    }
    if (pending && result > 0)
        result = WriteWithRetry(pending, PieceAddress(recordAddress, recordBytes), answer);

    int seconds = static_cast<int>(ElapsedMs(begin, TickMs()) / 1000);
    Progress(length, length, 2, 'W');
    if (result < 0)
        BSL_LOG(1, "BSLSendFirmware failed with error %d (%d s)", result, seconds);
    else
        BSL_LOG(10, "BSLSendFirmware successful (%d s)", seconds);
    return result;
}

int KeloBSLHost::BSLSendVectors()
{
    uint32_t totalMs = 0;
    char answer[kAnswerCapacity + 1];
    if (!image_)
        return result::kBadArgument;
    int result = CommandWithRetry('V', image_->Vectors(), kVectorCount, '+', answer, &totalMs);
    if (result < 0)
        BSL_LOG(1, "BSLSendVectors failed with error %d (%d ms)", result, static_cast<int>(totalMs));
    else
        BSL_LOG(10, "BSLSendVectors successful (%d ms)", static_cast<int>(totalMs));
    return result;
}
