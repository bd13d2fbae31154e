#include "CliUi.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>

#include "CauseWords.h"
#include "TerminalLine.h"
#include "SettingsArchive.h"
#include "Terminal.h"
#include "Timing.h"
#include "UpdateOutcome.h"

namespace {

// Lock-free, so safe both in a POSIX signal handler and from the thread that
// Windows starts for a console control event.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void CountInterrupt()
{
    gInterrupts.fetch_add(1);
    WakeTerminalReader();  // a question waiting on another thread ends too
}

// "01:05": minutes and seconds, whole seconds rounded up so that "00:00"
// means done.
std::string MinutesSeconds(double seconds)
{
    const long long whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
    return text;
}

}  // namespace

const char* KindName(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning: return "warning";
    case MessageKind::Error: return "error";
    case MessageKind::Information: return "information";
    case MessageKind::Confirmation: return "confirmation";
    case MessageKind::Plain: return "plain";
    }
    return "plain";
}

CliUi::CliUi(AppState& state, Options options)
    : state_(state), options_(options), progressOnTerminal_(!options.json && ::isatty(STDOUT_FILENO))
{
}

void CliUi::InstallInterruptHandler()
{
    PrepareTerminalWake();
    OnInterrupt(CountInterrupt);
}

int CliUi::InterruptCount()
{
    return gInterrupts.load();
}

void CliUi::Emit(const std::string& jsonLine)
{
    if (makeStart_ && !startSent_) {
        heldBack_.push_back(jsonLine);
        return;
    }
    std::cout << jsonLine << '\n' << std::flush;
}

void CliUi::SendStart()
{
    if (startSent_ || !makeStart_)
        return;
    startSent_ = true;
    std::cout << makeStart_() << '\n';
    for (const std::string& line : heldBack_)
        std::cout << line << '\n';
    std::cout << std::flush;
    heldBack_.clear();
}

void CliUi::EndProgressLine()
{
    if (progressLineOpen_) {
        std::cout << '\n';
        progressLineOpen_ = false;
        lastBarWidth_ = 0;
    }
}

void CliUi::ShowStatus(const std::string& text)
{
    HandleInterrupts();
    if (options_.json) {
        Emit(nlohmann::json{{"event", "status"}, {"text", text}}.dump());
        return;
    }
    EndProgressLine();
    std::cout << text << '\n' << std::flush;
    lastProgress_ = -1;  // redraw the bar under the new line
}

void CliUi::SetBusy(bool busy)
{
    if (busy)
        estimate_.Start(TickMs());
}

void CliUi::SetTransferBytes(long long done, long long total)
{
    estimate_.SetBytes(done, total, TickMs());
    if (progressLineOpen_)
        DrawBar();
}

// The bar, percent, elapsed time, time left and line rate on one line that
// fits 80 columns, drawn over the previous one.
void CliUi::DrawBar()
{
    const int width = 30;
    const int position = lastProgress_ < 0 ? 0 : lastProgress_;
    const int filled = position * width / 100;
    const std::optional<double> left = estimate_.SecondsLeft();
    const std::optional<double> rate = estimate_.BytesPerSecond();
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", position);
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '.') + "] " + percent +
                       "  elapsed " + MinutesSeconds(estimate_.ElapsedSeconds()) + "  left " +
                       (left ? MinutesSeconds(*left) : std::string("--:--"));
    if (rate)
        line += "  " + std::to_string(std::llround(*rate)) + " B/s";
    const std::size_t drawn = line.size();
    if (drawn < lastBarWidth_)
        line += std::string(lastBarWidth_ - drawn, ' ');  // wipe what a longer line left
    lastBarWidth_ = drawn;
    std::cout << '\r' << line << std::flush;
    progressLineOpen_ = true;
}

void CliUi::SetProgress(int position)
{
    HandleInterrupts();
    if (position == lastProgress_)
        return;
    lastProgress_ = position;
    estimate_.Tick(TickMs());
    if (position >= 6)
        SendStart();  // the device is identified and its settings saved: the loader comes next
    if (options_.json) {
        const std::optional<double> left = estimate_.SecondsLeft();
        const std::optional<double> rate = estimate_.BytesPerSecond();
        Emit(nlohmann::json{{"event", "progress"},
                            {"position", position},
                            {"elapsed_s", std::round(estimate_.ElapsedSeconds() * 10.0) / 10.0},
                            {"eta_s", left ? nlohmann::json(static_cast<long long>(std::ceil(*left))) : nlohmann::json(nullptr)},
                            {"bytes_per_s", rate ? nlohmann::json(std::llround(*rate)) : nlohmann::json(nullptr)}}
                 .dump());
    } else if (progressOnTerminal_) {
        DrawBar();
    } else {
        std::cout << position << "%\n" << std::flush;
    }
}

void CliUi::SetConnectText(const std::string& text)
{
    if (options_.json) {
        Emit(nlohmann::json{{"event", "connect"}, {"text", text}}.dump());
        return;
    }
    EndProgressLine();
    std::cout << text << '\n' << std::flush;
}

void CliUi::ShowMessage(const std::string& text, const std::string& title, MessageKind kind)
{
    SendStart();
    if (options_.json) {
        Emit(nlohmann::json{{"event", "message"}, {"kind", KindName(kind)}, {"title", title}, {"text", text}}
                 .dump());
        return;
    }
    EndProgressLine();
    std::cout << "\n== " << title << " ==\n" << text << "\n\n" << std::flush;
}

bool CliUi::AskAtTerminal(const std::string& text, const std::string& title)
{
    const unsigned wakes = TerminalWakes();
    EndProgressLine();
    std::cout << "\n== " << title << " ==\n" << text << "\n\nOK or Cancel? [o/C] " << std::flush;
    std::string line;
    const TerminalLine got = ReadTerminalLine(&line, wakes);
    if (got == TerminalLine::Interrupted) {
        // Ctrl+C is this question's Cancel, not a press that warns and goes on.
        interruptsSeen_ = gInterrupts.load();
        std::cout << "\nCtrl+C: answered Cancel.\n" << std::flush;
    }
    return got == TerminalLine::Typed && !line.empty() &&
           (line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y');
}

bool CliUi::AskOkCancel(const std::string& question, const std::string& title)
{
    // No start event here: with --json nobody waits for the answer, so the
    // question's event may wait for the start event and its serial number.
    // The workflow's question leaves out the numbers a technician decides by.
    std::string text = question;
    if (title == "Newer Firmware")
        text += "\n(The " + state_.deviceName + " runs version " +
                VersionText(state_.deviceIdentity.versionNumber) + "; this updater loads version " +
                VersionText(state_.targetVersion) + ".)";
    bool answer = options_.assumeYes;
    const char* how = options_.assumeYes ? "--yes" : "default";
    if (!options_.assumeYes && !options_.json && ::isatty(STDIN_FILENO)) {
        answer = AskAtTerminal(text, title);
        how = "terminal";
    } else if (!options_.json) {
        EndProgressLine();
        std::cout << "\n== " << title << " ==\n" << text << "\n\n"
                  << (answer ? "Answered OK (--yes)." : "No terminal to ask: answered Cancel (use --yes to answer OK).")
                  << "\n\n" << std::flush;
    }
    if (options_.json)
        Emit(nlohmann::json{{"event", "question"}, {"title", title}, {"text", text},
                            {"answer", answer ? "ok" : "cancel"}, {"by", how}}
                 .dump());
    return answer;
}

SettingsChoice CliUi::AskSettingsConflict(const std::string& text, const std::string& title)
{
    // --yes never answers this one: either answer can lose a calibration.
    const SettingsChoice choice = SettingsChoiceFrom(options_.settingsFrom);
    conflictUnanswered_ = choice == SettingsChoice::Stop;
    const char* answer = SettingsChoiceWord(choice);
    if (options_.json) {
        Emit(nlohmann::json{{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer},
                            {"by", "--settings-from"}}
                 .dump());
    } else {
        EndProgressLine();
        std::cout << "\n== " << title << " ==\n" << text << "\n\n"
                  << (conflictUnanswered_ ? "Not answered: stopped before anything was erased."
                                          : std::string("Answered by --settings-from ") + answer + ".")
                  << "\n\n" << std::flush;
    }
    return choice;
}

const char* const kWhichInstrumentNotAsked =
    "Not answered (--yes does not answer this): stopped before anything was written.";

std::string CandidateList(const std::vector<SettingsCandidate>& candidates)
{
    std::string list;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SettingsCandidate& c = candidates[i];
        list += "  " + std::to_string(i + 1) + ". " + c.file + "\n     " +
                (c.serialNumber.empty() ? std::string("no serial number") : "serial number " + c.serialNumber) +
                ", saved " + SettingsArchive::LocalDate(c.saved) + ", port " +
                (c.port.empty() ? std::string("not recorded") : c.port) + "\n";
    }
    return list;
}

std::string CandidatesJson(const std::vector<SettingsCandidate>& candidates)
{
    nlohmann::json list = nlohmann::json::array();
    for (const SettingsCandidate& c : candidates)
        list.push_back({{"file", c.file},
                        {"serialNumber", c.serialNumber.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.serialNumber)},
                        {"saved", SettingsArchive::LocalDate(c.saved)},
                        {"port", c.port.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.port)}});
    return list.dump();
}

bool CliUi::AskLosingSettings(const std::string& text, const std::string& title)
{
    // --yes does not answer this one: only a person at a terminal may.
    bool answer = false;
    const bool terminal = !options_.json && ::isatty(STDIN_FILENO);
    if (terminal) {
        answer = AskAtTerminal(text, title);
    } else if (!options_.json) {
        EndProgressLine();
        std::cout << "\n== " << title << " ==\n" << text << "\n\n"
                  << "No terminal to ask, and --yes does not answer this: stopped before anything was erased.\n\n"
                  << std::flush;
    }
    conflictUnanswered_ = !terminal;
    if (options_.json)
        Emit(nlohmann::json{{"event", "question"}, {"title", title}, {"text", text},
                            {"answer", answer ? "ok" : "cancel"}, {"by", terminal ? "terminal" : "default"}}
                 .dump());
    return answer;
}

int CliUi::AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                              const std::string& title)
{
    SendStart();
    if (options_.json) {
        Emit(nlohmann::json{{"event", "question"}, {"title", title}, {"text", text},
                            {"candidates", nlohmann::json::parse(CandidatesJson(candidates))},
                            {"answer", "none"}, {"by", "--settings-file"}}
                 .dump());
    } else {
        EndProgressLine();
        std::cout << "\n== " << title << " ==\n" << text << "\n\n" << CandidateList(candidates) << "\n"
                  << kWhichInstrumentNotAsked << "\n\n" << std::flush;
    }
    return kStopUpdate;
}

void CliUi::HandleInterrupts()
{
    int seen = gInterrupts.load();
    if (seen == interruptsSeen_)
        return;
    if (interruptsSeen_ == 0 && seen >= 1 && state_.updating) {
        // The window's text asks for a click; here the key is the answer.
        std::string text = "The update of your " + state_.deviceName +
                           " goes on: stopping now could leave it unusable or without its settings.\n" +
                           "Press Ctrl+C again to stop it anyway.";
        ShowMessage(text, "Don't Quit Now!", MessageKind::Warning);
    }
    if (seen >= 2 || !state_.updating)
        state_.keepGoing = false;
    interruptsSeen_ = seen;
}

void CliUi::PumpEvents()
{
    HandleInterrupts();
}

void CliUi::Result(const std::string& resultJson)
{
    if (!options_.json)
        return;
    SendStart();
    Emit(resultJson);
}
