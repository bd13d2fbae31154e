#include "MemoryLine.h"

#include <algorithm>
#include <cstring>

MemoryLine& MemoryLine::Expect(const std::string& bytes)
{
    steps_.push_back({Step::Expect, bytes});
    return *this;
}

MemoryLine& MemoryLine::Reply(const std::string& bytes)
{
    steps_.push_back({Step::Reply, bytes});
    Run();
    return *this;
}

MemoryLine& MemoryLine::Late(const std::string& bytes)
{
    steps_.push_back({Step::Late, bytes});
    return *this;
}

std::string MemoryLine::Finish() const
{
    std::string errors = errors_;
    if (!unmatched_.empty())
        errors += "unexpected bytes: \"" + unmatched_ + "\"\n";
    for (const Step& step : steps_)
        if (step.kind == Step::Expect)
            errors += "never sent: \"" + step.bytes + "\"\n";
    return errors;
}

// Matches what was written against the script and lets the device answer.
void MemoryLine::Run()
{
    while (!steps_.empty()) {
        Step& step = steps_.front();
        if (step.kind == Step::Reply) {
            arrived_ += step.bytes;
        } else if (step.kind == Step::Late) {
            return;  // KSWait releases it
        } else if (unmatched_.compare(0, step.bytes.size(), step.bytes) == 0 &&
                   unmatched_.size() >= step.bytes.size()) {
            unmatched_.erase(0, step.bytes.size());
        } else {
            if (step.bytes.compare(0, unmatched_.size(), unmatched_) != 0) {
                // The first difference says it; the rest of the script is off.
                errors_ += "expected \"" + step.bytes + "\", got \"" + unmatched_ + "\"\n";
                unmatched_.clear();
                steps_.clear();
            }
            return;
        }
        steps_.pop_front();
    }
}

int MemoryLine::KSOpen(const char*, uint32_t)
{
    open_ = true;
    arrived_.clear();
    waited_.clear();
    replyReady_ = false;
    return 1;
}

int MemoryLine::KSClose()
{
    if (!open_)
        return 0;
    open_ = false;
    return 1;
}

int MemoryLine::KSWrite(const void* bytes, uint32_t count, uint32_t* written)
{
    if (!open_)
        return -21;
    received_.append(static_cast<const char*>(bytes), count);
    unmatched_.append(static_cast<const char*>(bytes), count);
    Run();
    if (written)
        *written = count;
    return static_cast<int>(count);
}

int MemoryLine::KSWait(uint32_t, char awaited)
{
    if (!open_)
        return -21;
    waited_ = arrived_;
    arrived_.clear();
    if (awaited != '\0' && waited_.find(awaited) != std::string::npos) {
        replyReady_ = true;
        return static_cast<signed char>(awaited);
    }
    // Timed out: an answer owed late comes now.
    if (!steps_.empty() && steps_.front().kind == Step::Late) {
        arrived_ += steps_.front().bytes;
        steps_.pop_front();
        Run();
    }
    return 0;
}

// As KeloSerial: first what the last wait collected (what does not fit is
// dropped, and the line is not read then), else what has arrived.
int MemoryLine::KSRead(void* destination, uint32_t capacity, uint32_t* delivered)
{
    char* out = static_cast<char*>(destination);
    uint32_t n = 0;
    if (!waited_.empty()) {
        n = static_cast<uint32_t>(waited_.size());
        if (n > capacity) {
            n = capacity;
            replyReady_ = true;
        }
        std::memcpy(out, waited_.data(), n);
        waited_.clear();
    }
    if (delivered)
        *delivered = n;
    if (replyReady_) {
        replyReady_ = false;
        return static_cast<int>(n);
    }
    if (!open_)
        return -21;
    const uint32_t more = std::min<uint32_t>(capacity - n, static_cast<uint32_t>(arrived_.size()));
    std::memcpy(out + n, arrived_.data(), more);
    arrived_.erase(0, more);
    n += more;
    if (delivered)
        *delivered = n;
    return static_cast<int>(n);
}

int MemoryLine::KSPurge(int mode)
{
    if (mode == 1 && open_)
        arrived_.clear();
    waited_.clear();
    return 0;
}

int MemoryLine::KSHostBaud(uint32_t)
{
    return 0;
}
