// What a person sees while several ports are updated: on a terminal one line
// per port (port, device, step, bar, percent, elapsed, time left, line rate), redrawn in place a few
// times a second; without one a plain line per step change, prefixed with
// the port; with --json one object per line. Every port's thread reports
// here; all output of the run goes through it, one writer at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class ProgressBoard {
public:
    enum class Mode { Terminal, Plain, Json };
    // JSON lines when asked for, lines redrawn in place on a terminal, else plain lines.
    static Mode ModeFor(bool json);

    // labels: what the terminal lines call the ports (their short names).
    ProgressBoard(std::vector<std::string> ports, std::vector<std::string> labels, Mode mode);
    ~ProgressBoard();
    ProgressBoard(const ProgressBoard&) = delete;
    ProgressBoard& operator=(const ProgressBoard&) = delete;

    Mode OutputMode() const { return mode_; }
    const std::string& Port(int row) const { return rows_[static_cast<std::size_t>(row)].port; }

    void SetDevice(int row, const std::string& device);
    void SetStep(int row, const std::string& step);
    void SetPercent(int row, int percent);
    // The firmware write's time left and bytes a second, when known.
    void SetEstimate(int row, std::optional<double> secondsLeft, std::optional<double> bytesPerSecond);
    // The port's update has ended: its elapsed time stops.
    void SetDone(int row, const std::string& words);
    // A station's port between devices: the row shows only text ("waiting
    // for a device"); StartDevice begins the next device's row afresh.
    void SetWaiting(int row, const std::string& text);
    void StartDevice(int row);
    // A last line under the ports (a station's totals); empty: none.
    void SetTotals(const std::string& text);

    // Text for a person, printed above the port lines.
    void Print(const std::string& text);
    // One JSON object as one line.
    void Emit(const std::string& jsonLine);
    // The warning of the first Ctrl+C, once for the whole run.
    void WarnOnce(const std::string& text);

    // One question on the terminal at a time; while it waits for its answer
    // the lines are not redrawn and what the other ports print is held, then
    // printed after the answer. Returns the line typed; false at the end of
    // input or when Ctrl+C ended the wait.
    bool Ask(const std::string& question, std::string* answer);

    // Draws the lines a last time and stops redrawing.
    void Stop();

private:
    struct Row {
        std::string port;
        std::string label;
        std::string device;
        std::string step;
        int percent = 0;
        std::optional<double> secondsLeft;
        std::optional<double> bytesPerSecond;
        std::chrono::steady_clock::time_point start;
        std::chrono::steady_clock::time_point end;
        bool done = false;
        bool waiting = false;
    };

    void RedrawLoop();
    void DrawLocked();
    void EraseLocked();
    // Prints text now, or holds it while a question waits.
    void OutLocked(const std::string& text);
    std::string LineOf(const Row& row, std::size_t width) const;

    const Mode mode_;
    std::vector<Row> rows_;
    std::mutex mutex_;          // rows_ and the output
    std::mutex questionMutex_;  // one question at a time
    std::condition_variable wake_;
    bool dirty_ = false;
    bool stopping_ = false;
    bool asking_ = false;
    std::string held_;  // printed while a question waited
    std::string totals_;
    bool warned_ = false;
    int drawnLines_ = 0;
    std::thread redraw_;
};
