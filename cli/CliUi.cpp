#include "CliUi.h"

#include <atomic>
#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>

#include "CauseWords.h"
#include "SettingsArchive.h"
#include "Terminal.h"
#include "TerminalLine.h"
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

CliUi::CliUi(AppState& state, UiSink& sink, Options options)
    : state_(state), sink_(sink), options_(std::move(options)), json_(sink.Json())
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

// The device's name and old version, once identified (before the loader),
// or as it answered a refusal.
void CliUi::NoteDevice()
{
    if (!deviceNoted_) {
        deviceNoted_ = true;
        const DeviceIdentity& id = state_.deviceIdentity;
        if (id.versionNumber)
            oldVersion_ = VersionText(id.versionNumber);
        sink_.Device(id.type ? id.displayName : "");
    }
    sink_.DeviceKnown();
}

void CliUi::ShowStatus(const std::string& text)
{
    HandleInterrupts();
    if (sink_.Status(text))
        lastProgress_ = -1;  // redraw the bar under the new line
}

void CliUi::ShowTransfer(const Progress& progress)
{
    sink_.Transfer(progress);
}

void CliUi::SetProgress(const Progress& progress)
{
    HandleInterrupts();
    if (progress.percent == lastProgress_)
        return;
    lastProgress_ = progress.percent;
    sink_.Bar(progress);
}

void CliUi::StepReached(UpdateStep step, const DeviceIdentity&)
{
    if (step == UpdateStep::Loader)
        NoteDevice();  // the device is identified and its settings saved: the loader comes next
}

void CliUi::SetConnectText(const std::string& text)
{
    sink_.Connect(text);
}

void CliUi::ShowMessage(const std::string& text, const std::string& title, MessageKind kind)
{
    NoteDevice();  // a refusal before the loader: the device as it answered
    if (json_)
        Event({{"event", "message"}, {"kind", KindName(kind)}, {"title", title}, {"text", text}});
    else
        sink_.Block(title, text);
}

bool CliUi::ReadAnswer(const std::string& text, const std::string& title, const std::string& prompt,
                       std::string* line)
{
    const TerminalLine got = sink_.Ask(title, text, prompt, line);
    if (got == TerminalLine::Interrupted)
        interruptsSeen_ = gInterrupts.load();  // Ctrl+C is this question's Cancel, not a press that warns
    return got == TerminalLine::Typed;
}

bool CliUi::AskAtTerminal(const std::string& text, const std::string& title)
{
    std::string line;
    return ReadAnswer(text, title, "OK or Cancel? [o/C] ", &line) && !line.empty() &&
           (line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y');
}

bool CliUi::AskOkCancel(const std::string& question, const std::string& title)
{
    // No start event here: with --json nobody waits for the answer, so the
    // question's event may wait for the start event and its serial number.
    // The workflow's question leaves out the numbers a technician decides by.
    std::string text = SeveralPorts() ? "On " + options_.port + ": " + question : question;
    if (title == "Newer Firmware")
        text += "\n(The " + state_.deviceName + " runs version " + VersionText(state_.deviceIdentity.versionNumber) +
                "; this updater loads version " + VersionText(state_.targetVersion) + ".)";
    bool answer = options_.assumeYes;
    const char* how = options_.assumeYes ? "--yes" : "default";
    if (!options_.assumeYes && !json_ && ::isatty(STDIN_FILENO)) {
        answer = AskAtTerminal(text, title);
        how = "terminal";
    } else if (!json_) {
        sink_.Block(title, text + "\n\n" +
                               (answer ? "Answered OK (--yes)."
                                       : "No terminal to ask: answered Cancel (use --yes to answer OK)."));
    }
    if (json_)
        Event({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer ? "ok" : "cancel"}, {"by", how}});
    return answer;
}

SettingsChoice CliUi::AskSettingsConflict(const std::string& text, const std::string& title)
{
    // --yes never answers this one: either answer can lose a calibration.
    const SettingsChoice choice = SettingsChoiceFrom(options_.settingsFrom);
    conflictUnanswered_ = choice == SettingsChoice::Stop;
    const char* answer = SettingsChoiceWord(choice);
    if (json_)
        Event({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer}, {"by", "--settings-from"}});
    else
        sink_.Block(title, text + "\n\n" +
                               (conflictUnanswered_ ? "Not answered: stopped before anything was erased."
                                                    : std::string("Answered by --settings-from ") + answer + "."));
    return choice;
}

bool CliUi::AskLosingSettings(const std::string& question, const std::string& title)
{
    // --yes does not answer this one: only a person at a terminal may.
    const std::string text = SeveralPorts() ? "On " + options_.port + ": " + question : question;
    bool answer = false;
    const bool terminal = !json_ && ::isatty(STDIN_FILENO);
    if (terminal)
        answer = AskAtTerminal(text, title);
    else if (!json_)
        sink_.Block(title, text + "\n\nNo terminal to ask, and --yes does not answer this: stopped before anything "
                                  "was erased.");
    conflictUnanswered_ = !terminal;
    if (json_)
        Event({{"event", "question"}, {"title", title}, {"text", text}, {"answer", answer ? "ok" : "cancel"},
               {"by", terminal ? "terminal" : "default"}});
    return answer;
}

const char* const kWhichInstrumentNotAsked =
    "Not answered (--yes does not answer this): stopped before anything was written.";

std::string CandidateList(const std::vector<SettingsCandidate>& candidates, const std::vector<std::string>& devices)
{
    std::string list;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SettingsCandidate& c = candidates[i];
        const std::string device = i < devices.size() && !devices[i].empty() ? devices[i] + ": " : "";
        list += "  " + std::to_string(i + 1) + ". " + device + c.file + "\n     " +
                (c.serialNumber.empty() ? std::string("no serial number") : "serial number " + c.serialNumber) +
                ", saved " + SettingsArchive::LocalDate(c.saved) + ", port " +
                (c.port.empty() ? std::string("not recorded") : c.port) + "\n";
    }
    return list;
}

nlohmann::json CandidatesJson(const std::vector<SettingsCandidate>& candidates)
{
    nlohmann::json list = nlohmann::json::array();
    for (const SettingsCandidate& c : candidates)
        list.push_back({{"file", c.file},
                        {"serialNumber", c.serialNumber.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.serialNumber)},
                        {"saved", SettingsArchive::LocalDate(c.saved)},
                        {"port", c.port.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.port)}});
    return list;
}

int PickedNumber(const std::string& typed, std::size_t count)
{
    std::size_t first = typed.find_first_not_of(" \t");
    std::size_t last = typed.find_last_not_of(" \t");
    if (first == std::string::npos || last - first >= 6)
        return kNotPicked;
    std::size_t number = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (typed[i] < '0' || typed[i] > '9')
            return kNotPicked;
        number = number * 10 + static_cast<std::size_t>(typed[i] - '0');
    }
    return number >= 1 && number <= count ? static_cast<int>(number - 1) : kNotPicked;
}

int CliUi::AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                              const std::string& title)
{
    NoteDevice();
    if (!json_ && ::isatty(STDIN_FILENO)) {
        // Only a person may answer: a wrong file would give this instrument
        // another one's calibration, so anything but a listed number stops.
        const std::string question = SeveralPorts() ? "On " + options_.port + ": " + text : text;
        const std::size_t count = candidates.size();
        const std::string none = std::to_string(count + 1);
        const std::string prompt = "Type the number of its settings file" +
                                   (count > 1 ? " (1 to " + std::to_string(count) + ")" : std::string(" (1)")) + ", " +
                                   none + " to update it without settings, or Enter to stop: ";
        std::string line;
        const int picked = ReadAnswer(question + "\n\n" + CandidateList(candidates), title, prompt, &line)
                               ? PickedNumber(line, count + 1)
                               : kNotPicked;
        if (picked >= 0 && static_cast<std::size_t>(picked) < count)
            return picked;
        return picked == static_cast<int>(count) ? kNoneOfThese : kStopUpdate;
    }
    if (json_)
        Event({{"event", "question"}, {"title", title}, {"text", text}, {"candidates", CandidatesJson(candidates)},
               {"answer", "none"}, {"by", "--settings-file"}});
    else
        sink_.Block(title, text + "\n\n" + CandidateList(candidates) + "\n" + kWhichInstrumentNotAsked);
    return kStopUpdate;
}

void CliUi::HandleInterrupts()
{
    const int seen = gInterrupts.load();
    if (seen == interruptsSeen_)
        return;
    if (interruptsSeen_ == 0 && seen >= 1 && state_.updating) {
        // The window's text asks for a click; here the key is the answer.
        if (SeveralPorts())
            sink_.WarnOnce("Don't Quit Now!", "The updates go on: stopping now could leave the devices unusable or "
                                              "without their settings.\nPress Ctrl+C again to stop them anyway.");
        else
            ShowMessage("The update of your " + state_.deviceName +
                            " goes on: stopping now could leave it unusable or without its settings.\n"
                            "Press Ctrl+C again to stop it anyway.",
                        "Don't Quit Now!", MessageKind::Warning);
    }
    if (seen >= 2 || !state_.updating)
        state_.keepGoing = false;
    interruptsSeen_ = seen;
}
