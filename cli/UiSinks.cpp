#include "UiSinks.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "ProgressBoard.h"
#include "ResultTable.h"

// --- scrolling lines ---

LineSink::LineSink() : onTerminal_(::isatty(STDOUT_FILENO) != 0) {}

void LineSink::EndProgressLine()
{
    if (lineOpen_) {
        std::cout << '\n';
        lineOpen_ = false;
        lastWidth_ = 0;
    }
}

bool LineSink::Status(const std::string& text)
{
    EndProgressLine();
    std::cout << text << '\n' << std::flush;
    return true;  // the bar goes under the new line
}

// The bar, percent, elapsed time, time left and line rate on one line that
// fits 80 columns, drawn over the previous one.
void LineSink::DrawBar()
{
    const int width = 30;
    const int filled = last_.percent * width / 100;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", last_.percent);
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '.') + "] " + percent + "  elapsed " +
                       MinutesSeconds(last_.elapsed) + "  left " +
                       (last_.eta ? MinutesSeconds(*last_.eta) : std::string("--:--"));
    if (last_.rate)
        line += "  " + std::to_string(std::llround(*last_.rate)) + " B/s";
    const std::size_t drawn = line.size();
    if (drawn < lastWidth_)
        line += std::string(lastWidth_ - drawn, ' ');  // wipe what a longer line left
    lastWidth_ = drawn;
    std::cout << '\r' << line << std::flush;
    lineOpen_ = true;
}

void LineSink::Bar(const Progress& progress)
{
    last_ = progress;
    if (onTerminal_)
        DrawBar();
    else
        std::cout << progress.percent << "%\n" << std::flush;
}

void LineSink::Transfer(const Progress& progress)
{
    if (!lineOpen_)
        return;
    const int percent = last_.percent;  // the bar as drawn; only the times are newer
    last_ = progress;
    last_.percent = percent;
    DrawBar();
}

void LineSink::Connect(const std::string& text)
{
    EndProgressLine();
    std::cout << text << '\n' << std::flush;
}

void LineSink::Heading(const std::string& text)
{
    std::cout << text;
}

void LineSink::Block(const std::string& title, const std::string& body)
{
    EndProgressLine();
    std::cout << "\n== " << title << " ==\n" << body << "\n\n" << std::flush;
}

TerminalLine LineSink::Ask(const std::string& title, const std::string& text, const std::string& prompt,
                           std::string* line)
{
    const unsigned wakes = TerminalWakes();
    EndProgressLine();
    std::cout << "\n== " << title << " ==\n" << text << "\n\n" << prompt << std::flush;
    const TerminalLine got = ReadTerminalLine(line, wakes);
    if (got == TerminalLine::Interrupted)
        std::cout << "\nCtrl+C: answered Cancel.\n" << std::flush;
    return got;
}

// --- a row of the board ---

std::string BoardSink::Header(const std::string& title) const
{
    return "\n== " + title + " (" + board_.Port(row_) + ") ==\n";
}

bool BoardSink::Status(const std::string& text)
{
    board_.SetStep(row_, text);
    return false;
}

void BoardSink::Bar(const Progress& progress)
{
    board_.SetPercent(row_, progress.percent);
    board_.SetEstimate(row_, progress.eta, progress.rate);
}

void BoardSink::Transfer(const Progress& progress)
{
    board_.SetEstimate(row_, progress.eta, progress.rate);
}

void BoardSink::Device(const std::string& name)
{
    board_.SetDevice(row_, name.empty() ? "(in its loader)" : name);
}

void BoardSink::Done(const std::string& device, int exitCode)
{
    board_.SetDevice(row_, device);
    board_.SetDone(row_, ResultWords(exitCode));
}

void BoardSink::Block(const std::string& title, const std::string& body)
{
    board_.Print(Header(title) + body + "\n\n");
}

TerminalLine BoardSink::Ask(const std::string& title, const std::string& text, const std::string& prompt,
                            std::string* line)
{
    // The board keeps the other ports' output back while the question waits.
    return board_.Ask(Header(title) + text + "\n\n" + prompt, line) ? TerminalLine::Typed : TerminalLine::Ended;
}

void BoardSink::WarnOnce(const std::string& title, const std::string& text)
{
    board_.WarnOnce("\n== " + title + " ==\n" + text + "\n\n");
}

// --- JSON lines ---

JsonSink::JsonSink(std::function<void(const std::string&)> write, std::string port, ProgressBoard* board)
    : write_(std::move(write)), port_(std::move(port)), board_(board)
{
}

void JsonSink::Event(nlohmann::json event)
{
    if (!port_.empty())
        event["port"] = port_;
    if (makeStart_ && !startSent_) {
        heldBack_.push_back(event.dump());
        return;
    }
    write_(event.dump());
}

void JsonSink::SendStart()
{
    if (startSent_ || !makeStart_)
        return;
    startSent_ = true;
    write_(makeStart_().dump());
    for (const std::string& line : heldBack_)
        write_(line);
    heldBack_.clear();
}

bool JsonSink::Status(const std::string& text)
{
    Event({{"event", "status"}, {"text", text}});
    return false;
}

void JsonSink::Bar(const Progress& progress)
{
    Event({{"event", "progress"},
           {"position", progress.percent},
           {"elapsed_s", std::round(progress.elapsed * 10.0) / 10.0},
           {"eta_s", progress.eta ? nlohmann::json(static_cast<long long>(std::ceil(*progress.eta)))
                                  : nlohmann::json(nullptr)},
           {"bytes_per_s", progress.rate ? nlohmann::json(std::llround(*progress.rate)) : nlohmann::json(nullptr)}});
}

void JsonSink::Connect(const std::string& text)
{
    Event({{"event", "connect"}, {"text", text}});
}

void JsonSink::WarnOnce(const std::string& title, const std::string& text)
{
    // Once for the whole run, for no one port: no "port" member.
    if (board_)
        board_->WarnOnce(
            nlohmann::json{{"event", "message"}, {"kind", "warning"}, {"title", title}, {"text", text}}.dump() + "\n");
}

void JsonSink::Result(nlohmann::json event)
{
    SendStart();
    Event(std::move(event));
}
