#include "PortUi.h"

#include <cmath>
#include <unistd.h>

#include "CauseWords.h"
#include "CliUi.h"
#include "Timing.h"
#include "UpdateOutcome.h"

PortUi::PortUi(AppState& state, ProgressBoard& board, int row, Options options)
    : state_(state),
      board_(board),
      row_(row),
      options_(std::move(options)),
      json_(board.OutputMode() == ProgressBoard::Mode::Json)
{
}

std::string PortUi::Header(const std::string& title) const
{
    return "\n== " + title + " (" + board_.Port(row_) + ") ==\n";
}

void PortUi::Emit(nlohmann::json event)
{
    event["port"] = board_.Port(row_);
    if (makeStart_ && !startSent_) {
        heldBack_.push_back(event.dump());
        return;
    }
    board_.Emit(event.dump());
}

void PortUi::SendStart()
{
    if (startSent_ || !makeStart_)
        return;
    startSent_ = true;
    board_.Emit(makeStart_());
    for (const std::string& line : heldBack_)
        board_.Emit(line);
    heldBack_.clear();
}

// The device's name and old version, once identified (before the loader).
void PortUi::NoteDevice()
{
    if (deviceNoted_)
        return;
    deviceNoted_ = true;
    const DeviceIdentity& id = state_.deviceIdentity;
    if (id.versionNumber)
        oldVersion_ = VersionText(id.versionNumber);
    board_.SetDevice(row_, id.type ? id.displayName : "(in its loader)");
}

void PortUi::ShowStatus(const std::string& text)
{
    HandleInterrupts();
    if (json_)
        Emit({{"event", "status"}, {"text", text}});
    board_.SetStep(row_, text);
}

void PortUi::SetBusy(bool busy)
{
    if (busy)
        estimate_.Start(TickMs());
}

void PortUi::SetTransferBytes(long long done, long long total)
{
    estimate_.SetBytes(done, total, TickMs());
    board_.SetEstimate(row_, estimate_.SecondsLeft(), estimate_.BytesPerSecond());
}

void PortUi::SetProgress(int position)
{
    HandleInterrupts();
    if (position == lastProgress_)
        return;
    lastProgress_ = position;
    estimate_.Tick(TickMs());
    if (position >= 6) {
        NoteDevice();
        SendStart();
    }
    const std::optional<double> left = estimate_.SecondsLeft();
    const std::optional<double> rate = estimate_.BytesPerSecond();
    if (json_)
        Emit({{"event", "progress"},
              {"position", position},
              {"elapsed_s", std::round(estimate_.ElapsedSeconds() * 10.0) / 10.0},
              {"eta_s", left ? nlohmann::json(static_cast<long long>(std::ceil(*left))) : nlohmann::json(nullptr)},
              {"bytes_per_s", rate ? nlohmann::json(std::llround(*rate)) : nlohmann::json(nullptr)}});
    board_.SetPercent(row_, position);
    board_.SetEstimate(row_, left, rate);
}

void PortUi::SetConnectText(const std::string& text)
{
    // "Do NOT disconnect ..." is the step line's business on a shared screen.
    if (json_)
        Emit({{"event", "connect"}, {"text", text}});
}

void PortUi::ShowMessage(const std::string& text, const std::string& title, MessageKind kind)
{
    NoteDevice();  // a refusal before the loader: the device as it answered
    SendStart();
    if (json_)
        Emit({{"event", "message"}, {"kind", KindName(kind)}, {"title", title}, {"text", text}});
    else
        board_.Print(Header(title) + text + "\n\n");
}

bool PortUi::AskOkCancel(const std::string& question, const std::string& title)
{
    std::string text = "On " + board_.Port(row_) + ": " + question;
    if (title == "Newer Firmware")
        text += "\n(The " + state_.deviceName + " runs version " + VersionText(state_.deviceIdentity.versionNumber) +
                "; this updater loads version " + VersionText(state_.targetVersion) + ".)";
    bool answer = options_.assumeYes;
    const char* how = options_.assumeYes ? "--yes" : "default";
    if (!options_.assumeYes && !json_ && ::isatty(STDIN_FILENO)) {
        std::string line;
        if (board_.Ask(Header(title) + text + "\n\nOK or Cancel? [o/C] ", &line))
            answer = !line.empty() && (line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y');
        how = "terminal";
    } else if (!json_) {
        board_.Print(Header(title) + text + "\n\n" +
                     (answer ? "Answered OK (--yes)." : "No terminal to ask: answered Cancel (use --yes to answer OK).") +
                     "\n\n");
    }
    if (json_)
        Emit({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer ? "ok" : "cancel"}, {"by", how}});
    return answer;
}

SettingsChoice PortUi::AskSettingsConflict(const std::string& text, const std::string& title)
{
    // --yes never answers this one: either answer can lose a calibration.
    const SettingsChoice choice = SettingsChoiceFrom(options_.settingsFrom);
    conflictUnanswered_ = choice == SettingsChoice::Stop;
    const char* answer = SettingsChoiceWord(choice);
    if (json_)
        Emit({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer}, {"by", "--settings-from"}});
    else
        board_.Print(Header(title) + text + "\n\n" +
                     (conflictUnanswered_ ? "Not answered: stopped before anything was erased."
                                          : std::string("Answered by --settings-from ") + answer + ".") +
                     "\n\n");
    return choice;
}

bool PortUi::AskLosingSettings(const std::string& question, const std::string& title)
{
    // --yes does not answer this one: only a person at a terminal may.
    const std::string text = "On " + board_.Port(row_) + ": " + question;
    bool answer = false;
    const bool terminal = !json_ && ::isatty(STDIN_FILENO);
    std::string line;
    if (terminal && board_.Ask(Header(title) + text + "\n\nOK or Cancel? [o/C] ", &line))
        answer = !line.empty() && (line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y');
    else if (!json_)
        board_.Print(Header(title) + text +
                     "\n\nNo terminal to ask, and --yes does not answer this: stopped before anything was erased.\n\n");
    conflictUnanswered_ = !terminal;
    if (json_)
        Emit({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer ? "ok" : "cancel"},
              {"by", terminal ? "terminal" : "default"}});
    return answer;
}

int PortUi::AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                               const std::string& title)
{
    NoteDevice();
    SendStart();
    if (json_)
        Emit({{"event", "question"}, {"title", title}, {"text", text},
              {"candidates", nlohmann::json::parse(CandidatesJson(candidates))}, {"answer", "none"},
              {"by", "--settings-file"}});
    else
        board_.Print(Header(title) + text + "\n\n" + CandidateList(candidates) + "\n" + kWhichInstrumentNotAsked +
                     "\n\n");
    return kStopUpdate;
}

void PortUi::HandleInterrupts()
{
    const int seen = CliUi::InterruptCount();
    if (seen == interruptsSeen_)
        return;
    if (interruptsSeen_ == 0 && seen >= 1 && state_.updating) {
        const std::string text = "The updates go on: stopping now could leave the devices unusable or without "
                                 "their settings.\nPress Ctrl+C again to stop them anyway.";
        if (json_)
            board_.WarnOnce(nlohmann::json{{"event", "message"}, {"kind", "warning"}, {"title", "Don't Quit Now!"},
                                           {"text", text}}
                                .dump() +
                            "\n");
        else
            board_.WarnOnce("\n== Don't Quit Now! ==\n" + text + "\n\n");
    }
    if (seen >= 2 || !state_.updating)
        state_.keepGoing = false;
    interruptsSeen_ = seen;
}

void PortUi::Result(nlohmann::json event)
{
    if (!json_)
        return;
    SendStart();
    Emit(std::move(event));
}
