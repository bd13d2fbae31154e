// Where the command line's front end shows one port's update: scrolling
// lines (one port on a terminal or in a log), a row of the board (several
// ports at once) or JSON lines (--json). CliUi decides what is said and
// answered; a sink only decides how it looks.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProgressEstimate.h"
#include "TerminalLine.h"
#include "UpdateUi.h"

class ProgressBoard;

class UiSink {
public:
    virtual ~UiSink() = default;

    // A status line; true when the bar must be drawn again under it.
    virtual bool Status(const std::string& text) = 0;
    // The bar moved to a new percentage.
    virtual void Bar(const Progress& progress) = 0;
    // Bytes of the image were written (the bar may not move).
    virtual void Transfer(const Progress& /*progress*/) {}
    virtual void Connect(const std::string& /*text*/) {}
    // The device is known (or known to be in its loader): name, or empty.
    virtual void Device(const std::string& /*name*/) {}
    // The device is known: a JSON start event may go out now.
    virtual void DeviceKnown() {}
    // Makes the JSON start event when it is due (the other sinks need none).
    virtual void SetStartEvent(std::function<nlohmann::json()> /*makeStart*/) {}
    // What the run is about to do, before it starts (one port's lines only).
    virtual void Heading(const std::string& /*text*/) {}
    // The update has ended: what answered and what came of it.
    virtual void Done(const std::string& /*device*/, int /*exitCode*/) {}

    // A message or a question's text for a person, with what became of it.
    virtual void Block(const std::string& title, const std::string& body) = 0;
    // Asks a question on the terminal (the title, the text, then the prompt
    // on the line the answer is typed on) and reads the line typed.
    virtual TerminalLine Ask(const std::string& /*title*/, const std::string& /*text*/, const std::string& /*prompt*/,
                             std::string* /*line*/)
    {
        return TerminalLine::Ended;
    }
    // The warning of the first Ctrl+C in a run of several ports, once.
    virtual void WarnOnce(const std::string& /*title*/, const std::string& /*text*/) {}

    // JSON events; the other sinks ignore them.
    virtual bool Json() const { return false; }
    virtual void Event(nlohmann::json /*event*/) {}
    // The final event: the start event first if it has not gone out.
    virtual void Result(nlohmann::json /*event*/) {}
};

// One port on a terminal or into a file: each status on its own line, the
// bar redrawn in place on a terminal (percentages on their own lines otherwise).
class LineSink : public UiSink {
public:
    LineSink();
    bool Status(const std::string& text) override;
    void Bar(const Progress& progress) override;
    void Transfer(const Progress& progress) override;
    void Connect(const std::string& text) override;
    void Heading(const std::string& text) override;
    void Block(const std::string& title, const std::string& body) override;
    TerminalLine Ask(const std::string& title, const std::string& text, const std::string& prompt,
                     std::string* line) override;

private:
    void EndProgressLine();
    void DrawBar();

    const bool onTerminal_;
    bool lineOpen_ = false;
    std::size_t lastWidth_ = 0;
    Progress last_;
};

// One row of the board in a run of several ports; messages and questions
// name the port.
class BoardSink : public UiSink {
public:
    BoardSink(ProgressBoard& board, int row) : board_(board), row_(row) {}
    bool Status(const std::string& text) override;
    void Bar(const Progress& progress) override;
    void Transfer(const Progress& progress) override;
    void Device(const std::string& name) override;
    void Done(const std::string& device, int exitCode) override;
    void Block(const std::string& title, const std::string& body) override;
    TerminalLine Ask(const std::string& title, const std::string& text, const std::string& prompt,
                     std::string* line) override;
    void WarnOnce(const std::string& title, const std::string& text) override;

private:
    std::string Header(const std::string& title) const;

    ProgressBoard& board_;
    const int row_;
};

// One object per line. The first is a "start" event that names the device:
// the events before the device is known are held back until then. In a run
// of several ports every event names its port.
class JsonSink : public UiSink {
public:
    // write: one line out; port: added to every event (empty: one port).
    // board: the run of several ports' one Ctrl+C warning (null: one port).
    JsonSink(std::function<void(const std::string&)> write, std::string port, ProgressBoard* board);
    void SetStartEvent(std::function<nlohmann::json()> makeStart) override { makeStart_ = std::move(makeStart); }

    bool Status(const std::string& text) override;
    void Bar(const Progress& progress) override;
    void Connect(const std::string& text) override;
    void DeviceKnown() override { SendStart(); }
    void Block(const std::string&, const std::string&) override {}
    void WarnOnce(const std::string& title, const std::string& text) override;
    bool Json() const override { return true; }
    void Event(nlohmann::json event) override;
    void Result(nlohmann::json event) override;

private:
    void SendStart();

    std::function<void(const std::string&)> write_;
    const std::string port_;
    ProgressBoard* board_;
    std::function<nlohmann::json()> makeStart_;
    bool startSent_ = false;
    std::vector<std::string> heldBack_;
};
