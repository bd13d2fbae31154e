#include "ProgressBoard.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// At most five redraws a second: enough to look alive, little for the CPU.
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr std::size_t kDeviceWidth = 18;
constexpr std::size_t kStepWidth = 32;
constexpr int kBarWidth = 20;

std::size_t TerminalWidth()
{
#if !defined(_WIN32)
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
#endif
    return 100;
}

std::string Fit(const std::string& text, std::size_t width)
{
    if (text.size() > width)
        return text.substr(0, width - 3) + "...";
    return text + std::string(width - text.size(), ' ');
}

std::string MinutesSeconds(long seconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

ProgressBoard::ProgressBoard(std::vector<std::string> ports, Mode mode) : mode_(mode)
{
    const auto now = Clock::now();
    for (std::string& port : ports) {
        Row row;
        row.port = std::move(port);
        row.start = now;
        rows_.push_back(std::move(row));
    }
    if (mode_ == Mode::Terminal) {
#if defined(_WIN32)
        // The lines are redrawn with cursor moves, which the console must be told to obey.
        HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD consoleMode = 0;
        if (GetConsoleMode(console, &consoleMode))
            SetConsoleMode(console, consoleMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#endif
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
        std::cout << r.port << ": " << step << '\n' << std::flush;
}

void ProgressBoard::SetPercent(int row, int percent)
{
    std::lock_guard lock(mutex_);
    rows_[static_cast<std::size_t>(row)].percent = std::clamp(percent, 0, 100);
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
        std::cout << r.port << ": " << words << '\n' << std::flush;
}

void ProgressBoard::Print(const std::string& text)
{
    std::lock_guard lock(mutex_);
    EraseLocked();
    std::cout << text << std::flush;
    if (mode_ == Mode::Terminal && !stopping_ && !asking_)
        DrawLocked();
}

void ProgressBoard::Emit(const std::string& jsonLine)
{
    std::lock_guard lock(mutex_);
    std::cout << jsonLine << '\n' << std::flush;
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
    {
        std::lock_guard lock(mutex_);
        asking_ = true;
        EraseLocked();
        std::cout << question << std::flush;
    }
    // Only this thread reads the terminal now; the others go on updating.
    const bool got = static_cast<bool>(std::getline(std::cin, *answer));
    std::lock_guard lock(mutex_);
    asking_ = false;
    if (mode_ == Mode::Terminal && !stopping_)
        DrawLocked();
    return got;
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
    std::cout << out << std::flush;
    drawnLines_ = static_cast<int>(rows_.size());
    dirty_ = false;
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
    std::size_t portWidth = 4;
    for (const Row& r : rows_)
        portWidth = std::max(portWidth, r.port.size());
    const int filled = row.percent * kBarWidth / 100;
    const auto end = row.done ? row.end : Clock::now();
    const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(end - row.start).count());
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", row.percent);
    std::string line = Fit(row.port, portWidth) + "  " + Fit(row.device.empty() ? "-" : row.device, kDeviceWidth) +
                       "  " + Fit(row.step, kStepWidth) + "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " + percent + "  " +
                       MinutesSeconds(elapsed);
    if (line.size() > width)
        line.resize(width);
    return line;
}
