#include "SimBootloader.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kMaxLine = 1100;
constexpr uint32_t kVectorStart = 0xFFE0;

bool AllHex(const std::string& text)
{
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

uint32_t Hex(const std::string& text, std::size_t at, std::size_t count)
{
    return static_cast<uint32_t>(std::stoul(text.substr(at, count), nullptr, 16));
}

}  // namespace

SimBootloader::SimBootloader(const SimOptions& options, SimLine& line, SimFlash& flash, Events events)
    : options_(options), line_(line), flash_(flash), events_(std::move(events)),
      topWritten_(kVectorStart - SimFlash::kTopSegment, 0)
{
}

void SimBootloader::StartSession()
{
    buffer_.clear();
    writeAddress_ = -1;
    topErased_ = false;
    std::fill(topWritten_.begin(), topWritten_.end(), 0);
    changing_ = false;
    lateDue_ = false;
}

void SimBootloader::OnTick(uint32_t nowMs)
{
    if (lateDue_ && !dead_ && static_cast<int32_t>(nowMs - lateAtMs_) >= 0) {
        lateDue_ = false;
        Answer("+\r");
    }
}

void SimBootloader::Answer(const std::string& text)
{
    if (!options_.HasFault("bsl-silent"))
        line_.Send(text);
}

void SimBootloader::OnBytes(const char* data, std::size_t size)
{
    const long drop = options_.FaultNumber("bsl-drop", 0);
    const long corrupt = options_.FaultNumber("bsl-corrupt", 0);
    for (std::size_t i = 0; i < size && !dead_; ++i) {
        char c = data[i];
        ++bytesIn_;
        if (drop > 0 && bytesIn_ % drop == 0)
            continue;
        if (corrupt > 0 && bytesIn_ % corrupt == 0)
            c = static_cast<char>(c ^ 0x01);
        if (buffer_.empty() && c == 'P') {
            Answer("#");
        } else if (c == '\r') {
            std::string line;
            line.swap(buffer_);
            OnLine(line);
        } else if (c == '\n' && buffer_.empty()) {
            // the tail of a CR LF
        } else if (buffer_.size() < kMaxLine) {
            buffer_ += c;
        }
    }
}

void SimBootloader::OnLine(const std::string& line)
{
    if (line.empty()) {
        Answer("$");
        return;
    }
    if (line.find(' ') != std::string::npos) {
        // A command line of the application's interpreter (frames never hold
        // a blank, not even damaged ones): the boot command is not known
        // here; anything else gets the prompt, so the host can tell who is
        // listening.
        Answer(line.rfind("boot ", 0) == 0 ? "?\r" : "$");
        return;
    }
    const std::size_t n = line.size();
    if (std::strchr("g@WVX", line[0]) == nullptr || n < 6 || line[n - 5] != '.' ||
        !AllHex(line.substr(n - 4))) {
        Answer("-\r");
        return;
    }
    int sum = 0;
    for (std::size_t i = 0; i < n - 4; ++i)
        sum += static_cast<signed char>(line[i]);
    sum = ((sum % 65535) + 65535) % 65535;
    if (static_cast<uint32_t>(sum) != Hex(line, n - 4, 4) || n - 6 > 512) {
        Answer("-\r");
        return;
    }

    ++frames_;
    const long unplug = options_.FaultNumber("unplug", 0);
    if (unplug > 0 && frames_ > unplug) {
        line_.Unplug();  // the cable is out: this frame was never heard
        return;
    }
    const long powerLoss = options_.FaultNumber("power-loss", 0);
    if (powerLoss > 0 && frames_ > powerLoss) {
        dead_ = true;
        line_.DropPending();
        if (events_.powerLoss)
            events_.powerLoss();
        return;
    }
    const long refuse = options_.FaultNumber("bsl-refuse", 0);
    if (refuse > 0 && frames_ % refuse == 0) {
        Answer("-\r");
        return;
    }
    OnFrame(line[0], line.substr(1, n - 6));
}

void SimBootloader::OnFrame(char command, const std::string& payload)
{
    switch (command) {
    case 'g':
        if (payload.empty()) {
            Answer("+" + std::to_string(options_.FaultNumber("bsl-version", 12)) + "+\r");
            return;
        }
        break;
    case 'X':
        if (Erase(payload)) {
            Answer("+\r");
            return;
        }
        break;
    case '@':
        if (SetAddress(payload)) {
            Answer("+\r");
            return;
        }
        break;
    case 'W':
        if (WriteWords(payload)) {
            if (++writeFrames_ == options_.FaultNumber("bsl-late", 0)) {
                lateDue_ = true;
                lateAtMs_ = SimLine::NowMs() + kLateAnswerMs;
                return;
            }
            Answer("+\r");
            return;
        }
        break;
    case 'V':
        if (WriteVectors(payload)) {
            Answer("+\r");
            if (events_.restart)
                events_.restart();
            return;
        }
        break;
    }
    Answer("-\r");
}

void SimBootloader::FlashChanging()
{
    if (!changing_ && events_.flashChanging)
        events_.flashChanging();
    changing_ = true;
}

bool SimBootloader::Erase(const std::string& payload)
{
    if (payload.size() != 4 || !AllHex(payload))
        return false;
    FlashChanging();
    uint32_t address = Hex(payload, 0, 4);
    if (!flash_.EraseSegment(address))
        return false;
    if (address >= SimFlash::kTopSegment) {
        topErased_ = true;
        std::fill(topWritten_.begin(), topWritten_.end(), 0);
    }
    return true;
}

void SimBootloader::EraseTopSegment()
{
    flash_.EraseSegment(SimFlash::kTopSegment);
    topErased_ = true;
}

bool SimBootloader::SetAddress(const std::string& payload)
{
    if (payload.size() != 4 || !AllHex(payload))
        return false;
    uint32_t address = Hex(payload, 0, 4);
    if (address < SimFlash::kFlashStart || SimFlash::InBootloaderArea(address, 1))
        return false;
    // The top segment is the bootloader's to manage: the first record there
    // in a session finds it erased.
    if (address >= SimFlash::kTopSegment && !topErased_) {
        FlashChanging();
        EraseTopSegment();
    }
    writeAddress_ = address;
    return true;
}

bool SimBootloader::WriteWords(const std::string& payload)
{
    if (writeAddress_ < 0 || payload.empty() || payload.size() % 4 || !AllHex(payload))
        return false;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < payload.size(); i += 4) {
        bytes.push_back(static_cast<uint8_t>(Hex(payload, i + 2, 2)));  // low byte
        bytes.push_back(static_cast<uint8_t>(Hex(payload, i, 2)));      // high byte
    }
    const uint32_t address = static_cast<uint32_t>(writeAddress_);
    FlashChanging();
    if (!flash_.Write(address, bytes.data(), static_cast<uint32_t>(bytes.size())))
        return false;
    for (uint32_t i = 0; i < bytes.size(); ++i)
        if (address + i >= SimFlash::kTopSegment && address + i < kVectorStart)
            topWritten_[address + i - SimFlash::kTopSegment] = 1;
    writeAddress_ += static_cast<int64_t>(bytes.size());
    return true;
}

bool SimBootloader::WriteVectors(const std::string& payload)
{
    if (payload.size() != 64 || !AllHex(payload))
        return false;
    FlashChanging();
    if (!topErased_) {
        // Keep what this session wrote below the vectors, erase the rest.
        std::vector<uint8_t> kept(flash_.Data() + SimFlash::kTopSegment, flash_.Data() + kVectorStart);
        EraseTopSegment();
        for (uint32_t i = 0; i < kept.size(); ++i)
            if (topWritten_[i])
                flash_.Write(SimFlash::kTopSegment + i, &kept[i], 1);
    }
    uint8_t vectors[32];
    for (int i = 0; i < 16; ++i) {
        uint32_t word = Hex(payload, 4 * i, 4);
        vectors[2 * i] = static_cast<uint8_t>(word & 0xFF);
        vectors[2 * i + 1] = static_cast<uint8_t>(word >> 8);
    }
    return flash_.Write(kVectorStart, vectors, sizeof vectors);
}
