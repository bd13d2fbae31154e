#include "ProgressBoard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "ProgressEstimate.h"
#include "Terminal.h"
#include "TerminalLine.h"

namespace {

using Clock = std::chrono::steady_clock;

// At most five redraws a second: enough to look alive, little for the CPU.
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr std::size_t kDeviceWidth = 16;
constexpr std::size_t kStepWidth = 30;
constexpr std::size_t kMinStepWidth = 12;
constexpr int kBarWidth = 20;

std::size_t TerminalWidth()
{
    const std::size_t columns = TerminalColumns();
    return columns > 20 ? columns : 100;
}

std::string Fit(const std::string& text, std::size_t width)
{
    if (text.size() > width)
        return text.substr(0, width - 3) + "...";
    return text + std::string(width - text.size(), ' ');
}

}  // namespace

ProgressBoard::Mode ProgressBoard::ModeFor(bool json)
{
    if (json)
        return Mode::Json;
    return ::isatty(STDOUT_FILENO) != 0 ? Mode::Terminal : Mode::Plain;
}

ProgressBoard::ProgressBoard(std::vector<std::string> ports, std::vector<std::string> labels, Mode mode)
    : mode_(mode)
{
    const auto now = Clock::now();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Row row;
        row.port = std::move(ports[i]);
        row.label = i < labels.size() ? labels[i] : row.port;
        row.start = now;
        rows_.push_back(std::move(row));
    }
    if (mode_ == Mode::Terminal) {
        AllowCursorMoves();  // the lines are redrawn with cursor moves
        redraw_ = std::thread([this] { RedrawLoop(); });
    }
}

ProgressBoard::~ProgressBoard()
{
    Stop();
}

void ProgressBoard::SetDevice(int row, const std::string& device)
{
    std::lock_guard lock(mutex_);
    rows_[static_cast<std::size_t>(row)].device = device;
    dirty_ = true;
}

void ProgressBoard::SetStep(int row, const std::string& step)
{
    std::lock_guard lock(mutex_);
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (r.step == step)
        return;
    r.step = step;
    dirty_ = true;
    if (mode_ == Mode::Plain)
        OutLocked(r.port + ": " + step + '\n');
}

void ProgressBoard::SetPercent(int row, int percent)
{
    std::lock_guard lock(mutex_);
    rows_[static_cast<std::size_t>(row)].percent = std::clamp(percent, 0, 100);
    dirty_ = true;
}

void ProgressBoard::SetEstimate(int row, std::optional<double> secondsLeft, std::optional<double> bytesPerSecond)
{
    std::lock_guard lock(mutex_);
    Row& r = rows_[static_cast<std::size_t>(row)];
    r.secondsLeft = secondsLeft;
    r.bytesPerSecond = bytesPerSecond;
    dirty_ = true;
}

void ProgressBoard::SetDone(int row, const std::string& words)
{
    std::lock_guard lock(mutex_);
    Row& r = rows_[static_cast<std::size_t>(row)];
    r.done = true;
    r.end = Clock::now();
    r.step = words;
    dirty_ = true;
    if (mode_ == Mode::Plain)
        OutLocked(r.port + ": " + words + '\n');
}

void ProgressBoard::SetWaiting(int row, const std::string& text)
{
    std::lock_guard lock(mutex_);
    Row& r = rows_[static_cast<std::size_t>(row)];
    if (r.waiting && r.step == text)
        return;
    r.waiting = true;
    r.step = text;
    dirty_ = true;
    if (mode_ == Mode::Plain)
        OutLocked(r.port + ": " + text + '\n');
}

void ProgressBoard::StartDevice(int row)
{
    std::lock_guard lock(mutex_);
    Row& r = rows_[static_cast<std::size_t>(row)];
    const std::string port = r.port;
    const std::string label = r.label;
    r = Row{};
    r.port = port;
    r.label = label;
    r.start = Clock::now();
    dirty_ = true;
}

void ProgressBoard::SetTotals(const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (totals_ == text)
        return;
    totals_ = text;
    dirty_ = true;
    if (mode_ == Mode::Plain)
        OutLocked(text + '\n');
}

void ProgressBoard::Print(const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (asking_) {
        held_ += text;
        return;
    }
    EraseLocked();
    std::cout << text << std::flush;
    if (mode_ == Mode::Terminal && !stopping_)
        DrawLocked();
}

void ProgressBoard::Emit(const std::string& jsonLine)
{
    std::lock_guard lock(mutex_);
    OutLocked(jsonLine + '\n');
}

void ProgressBoard::WarnOnce(const std::string& text)
{
    {
        std::lock_guard lock(mutex_);
        if (warned_)
            return;
        warned_ = true;
    }
    Print(text);
}

bool ProgressBoard::Ask(const std::string& question, std::string* answer)
{
    std::lock_guard turn(questionMutex_);
    const unsigned wakes = TerminalWakes();
    {
        std::lock_guard lock(mutex_);
        asking_ = true;
        EraseLocked();
        std::cout << question << std::flush;
    }
    // Only this thread reads the terminal now; the others go on updating,
    // and a Ctrl+C that reaches any thread ends the wait.
    const TerminalLine got = ReadTerminalLine(answer, wakes);
    std::lock_guard lock(mutex_);
    asking_ = false;
    if (got == TerminalLine::Interrupted)
        std::cout << "\nCtrl+C: answered Cancel.\n";
    std::cout << held_ << std::flush;
    held_.clear();
    if (mode_ == Mode::Terminal && !stopping_)
        DrawLocked();
    return got == TerminalLine::Typed;
}

void ProgressBoard::Stop()
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
        if (mode_ == Mode::Terminal && !asking_)
            DrawLocked();
    }
    wake_.notify_all();
    if (redraw_.joinable())
        redraw_.join();
}

void ProgressBoard::RedrawLoop()
{
    std::unique_lock lock(mutex_);
    auto lastDraw = Clock::now();
    while (!stopping_) {
        wake_.wait_for(lock, kRedrawEvery);
        // The elapsed times tick: redraw at least once a second.
        if (!stopping_ && !asking_ && (dirty_ || Clock::now() - lastDraw >= std::chrono::seconds(1))) {
            DrawLocked();
            lastDraw = Clock::now();
        }
    }
}

// Lines longer than the terminal would wrap and spoil the cursor moves.
void ProgressBoard::DrawLocked()
{
    const std::size_t width = TerminalWidth();
    std::string out;
    if (drawnLines_ > 0)
        out += "\x1b[" + std::to_string(drawnLines_) + "A";
    for (const Row& row : rows_)
        out += "\r" + LineOf(row, width - 1) + "\x1b[K\n";
    if (!totals_.empty())
        out += "\r" + Fit(totals_, width - 1) + "\x1b[K\n";
    std::cout << out << std::flush;
    drawnLines_ = static_cast<int>(rows_.size()) + (totals_.empty() ? 0 : 1);
    dirty_ = false;
}

void ProgressBoard::OutLocked(const std::string& text)
{
    if (asking_)
        held_ += text;
    else
        std::cout << text << std::flush;
}

void ProgressBoard::EraseLocked()
{
    if (drawnLines_ == 0)
        return;
    std::cout << "\x1b[" << drawnLines_ << "A\r\x1b[J";
    drawnLines_ = 0;
}

std::string ProgressBoard::LineOf(const Row& row, std::size_t width) const
{
    std::size_t labelWidth = 4;
    for (const Row& r : rows_)
        labelWidth = std::max(labelWidth, r.label.size());
    if (row.waiting)
        return Fit(Fit(row.label, labelWidth) + "  " + row.step, width);
    const auto end = row.done ? row.end : Clock::now();
    const double elapsed = std::chrono::duration<double>(end - row.start).count();
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", row.percent);
    const std::string head = Fit(row.label, labelWidth) + "  " + Fit(row.device.empty() ? "-" : row.device, kDeviceWidth);
    const std::string left =
        row.done ? "" : "  left " + (row.secondsLeft ? MinutesSeconds(*row.secondsLeft) : std::string("--:--"));
    const std::string rate =
        row.done || !row.bytesPerSecond ? "" : "  " + std::to_string(std::llround(*row.bytesPerSecond)) + " B/s";

    // On a narrow terminal the step, then the line rate, then the bar give
    // way, so that the time left stays in view.
    std::string line;
    for (int narrower = 0; narrower < 3; ++narrower) {
        const int barWidth = narrower < 2 ? kBarWidth : kBarWidth / 2;
        const int filled = row.percent * barWidth / 100;
        const std::string tail = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                                 std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] " + percent +
                                 "  " + MinutesSeconds(std::floor(elapsed)) + left + (narrower == 0 ? rate : "");
        const std::size_t used = head.size() + tail.size() + 4;
        const std::size_t stepWidth =
            std::clamp<std::size_t>(width > used ? width - used : 0, kMinStepWidth, kStepWidth);
        line = head + "  " + Fit(row.step, stepWidth) + "  " + tail;
        if (line.size() <= width)
            return line;
    }
    line.resize(width);
    return line;
}
