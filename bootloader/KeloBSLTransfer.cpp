// The transfers of KeloBSLHost: flash erase, image write and vector write.
#include <cstring>

#include "KeloBSLHost.h"
#include "KeloLog.h"
#include "Timing.h"

#define BSL_LOG(level, ...)                                   \
    do {                                                      \
        if (log_)                                             \
            log_->LogMessage(level, "KeloBSL", __VA_ARGS__);  \
    } while (0)

namespace {

constexpr uint32_t kSegmentSize = 512;
constexpr uint32_t kInfoSegmentSize = 128;

}  // namespace

bool KeloBSLHost::Progress(uint32_t total, uint32_t current, int phase, char kind)
{
    if (!progress_ || !progressHook_)
        return true;
    return progressHook_(total, current, phase, kind);
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
            result = -40;
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
    if (!imageText_)
        return -10;
    int result = 1;
    uint32_t pending = 0;
    uint32_t position = 0;
    char answer[kAnswerCapacity + 1];

    while (position < imageLength_ && result >= 0) {
        if (position % kMaxPayloadChars == 0 && !Progress(imageLength_, position, 1, 'W')) {
            result = -40;
            break;
        }
        if (imageText_[position] == '@') {
            if (pending) {
                result = CommandWithRetry('W', payload_, pending, '\r', answer);
                if (result < 0)
                    break;
            }
            // A truncated record address is sent as it stands; the bootloader refuses it.
            uint32_t addressChars = imageLength_ - position - 1 < 4 ? imageLength_ - position - 1 : 4;
            std::memcpy(payload_, imageText_ + position + 1, addressChars);
            position += 1 + addressChars;
            result = CommandWithRetry('@', payload_, addressChars, '\r', answer);
            pending = 0;
        } else {
            payload_[pending++] = imageText_[position++];
            if (pending == kMaxPayloadChars) {
                result = CommandWithRetry('W', payload_, pending, '\r', answer);
                if (result < 0)
                    break;
                pending = 0;
            }
        }
    }
    if (pending && result > 0)
        result = CommandWithRetry('W', payload_, pending, '\r', answer);

    int seconds = static_cast<int>(ElapsedMs(begin, TickMs()) / 1000);
    Progress(imageLength_, imageLength_, 2, 'W');
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
    int result = CommandWithRetry('V', vectors_, kVectorCount, '+', answer, &totalMs);
    if (result < 0)
        BSL_LOG(1, "BSLSendVectors failed with error %d (%d ms)", result, static_cast<int>(totalMs));
    else
        BSL_LOG(10, "BSLSendVectors successful (%d ms)", static_cast<int>(totalMs));
    return result;
}
