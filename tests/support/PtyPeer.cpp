#include "PtyPeer.h"

#include <chrono>
#include <cstdio>

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

PtyPeer::PtyPeer() = default;

PtyPeer::~PtyPeer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (thread_.joinable())
        thread_.join();
}

PtyPeer& PtyPeer::Add(Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(std::move(step));
    return *this;
}

PtyPeer& PtyPeer::Expect(const std::string& bytes, uint32_t timeoutMs)
{
    return Add({Step::Expect, bytes, timeoutMs});
}

PtyPeer& PtyPeer::ExpectUntil(char end, uint32_t timeoutMs)
{
    return Add({Step::ExpectUntil, std::string(1, end), timeoutMs});
}

PtyPeer& PtyPeer::Reply(const std::string& bytes) { return Add({Step::Reply, bytes, 0}); }
PtyPeer& PtyPeer::Silence(uint32_t ms) { return Add({Step::Silence, {}, ms}); }
PtyPeer& PtyPeer::CloseLine() { return Add({Step::Close, {}, 0}); }

void PtyPeer::Start()
{
    started_ = true;
    thread_ = std::thread([this] { Run(); });
}

std::string PtyPeer::Finish(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; }))
        errors_ += "script did not finish in time; ";
    stop_ = true;
    lock.unlock();
    if (thread_.joinable())
        thread_.join();
    return errors_;
}

std::string PtyPeer::Received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool PtyPeer::ReadSome(uint32_t waitMs)
{
    char buffer[512];
    std::size_t n = line_.Read(buffer, sizeof buffer, waitMs);
    if (n == 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(buffer, n);
    return true;
}

void PtyPeer::Run()
{
    for (;;) {
        Step step;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (steps_.empty() || stop_)
                break;
            step = steps_.front();
            steps_.pop_front();
        }
        const int64_t deadline = NowMs() + step.ms;
        switch (step.kind) {
        case Step::Expect:
        case Step::ExpectUntil: {
            bool matched = false;
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    std::string pending = received_.substr(consumed_);
                    if (step.kind == Step::Expect && pending.size() >= step.bytes.size()) {
                        matched = pending.compare(0, step.bytes.size(), step.bytes) == 0;
                        if (!matched)
                            errors_ += "expected \"" + Printable(step.bytes) + "\", got \"" +
                                       Printable(pending) + "\"; ";
                        consumed_ += step.bytes.size();
                        break;
                    }
                    if (step.kind == Step::ExpectUntil) {
                        auto at = pending.find(step.bytes[0]);
                        if (at != std::string::npos) {
                            consumed_ += at + 1;
                            matched = true;
                            break;
                        }
                    }
                    if (stop_)
                        break;
                }
                int64_t left = deadline - NowMs();
                if (left <= 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    errors_ += "timed out waiting for \"" + Printable(step.bytes) + "\", got \"" +
                               Printable(received_.substr(consumed_)) + "\"; ";
                    break;
                }
                ReadSome(static_cast<uint32_t>(left < 50 ? left : 50));
            }
            (void)matched;
            break;
        }
        case Step::Reply:
            line_.Write(step.bytes.data(), step.bytes.size());
            break;
        case Step::Silence: {
            while (NowMs() < deadline)
                ReadSome(static_cast<uint32_t>(deadline - NowMs()));
            std::lock_guard<std::mutex> lock(mutex_);
            consumed_ = received_.size();
            break;
        }
        case Step::Close:
            if (!line_.Hangup()) {
                std::lock_guard<std::mutex> lock(mutex_);
                errors_ += "this line cannot hang up; ";
            }
            break;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    changed_.notify_all();
}
