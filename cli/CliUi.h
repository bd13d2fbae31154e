// The update's front end on the command line, for one port's update whether
// the run has one port or several: it answers the questions (from the
// terminal or the options), watches Ctrl+C and tells a sink what to show
// (scrolling lines, a board row or JSON lines).
#pragma once

#include <string>
#include <vector>

#include "AppState.h"
#include "UiSinks.h"
#include "UpdateUi.h"

// A message's kind as the JSON events name it: "error", "warning" ...
const char* KindName(MessageKind kind);
// The candidates of "Which Instrument?", one per line pair, numbered, for a
// terminal; devices, when given, names each one's device type.
std::string CandidateList(const std::vector<SettingsCandidate>& candidates,
                          const std::vector<std::string>& devices = {});
// The same as a JSON array.
nlohmann::json CandidatesJson(const std::vector<SettingsCandidate>& candidates);
// What a front end that cannot ask "Which Instrument?" says after the list.
extern const char* const kWhichInstrumentNotAsked;
// The entry a line typed in answer to a numbered list picks: its index (the
// line "2" picks index 1), or kNotPicked for Enter, a number outside 1 to
// count or anything else.
constexpr int kNotPicked = -1;
int PickedNumber(const std::string& typed, std::size_t count);

class CliUi : public UpdateUi {
public:
    struct Options {
        bool assumeYes = false;  // answer OK to both questions
        // "Settings Conflict" is answered only by --settings-from: "saved" or
        // "device"; empty leaves it unanswered and the update stops.
        std::string settingsFrom;
        // In a run of several ports: this port, named in its questions.
        std::string port;
    };
    CliUi(AppState& state, UiSink& sink, Options options);

    void ShowStatus(const std::string& text) override;
    void HideStatus() override {}
    void SetProgress(const Progress& progress) override;
    void ShowTransfer(const Progress& progress) override;
    void StepReached(UpdateStep step, const DeviceIdentity& device) override;
    void SetConnectText(const std::string& text) override;
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    SettingsChoice AskSettingsConflict(const std::string& text, const std::string& title) override;
    bool AskLosingSettings(const std::string& text, const std::string& title) override;
    // Asked at a terminal (a number, or Enter to stop); without one, or with
    // --json, it lists the candidates and how to answer, and stops.
    int AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                           const std::string& title) override;
    void Beep(MessageKind) override {}
    void PumpEvents() override { HandleInterrupts(); }

    // A question only the person may answer ("Settings Conflict", "Settings
    // Retrieve Error" for a device that named settings) stopped the update.
    bool ConflictUnanswered() const { return conflictUnanswered_; }
    // The device's version before the update, as first read; empty when none was.
    const std::string& OldVersion() const { return oldVersion_; }

    // Ctrl+C: the first press warns and the update goes on; the second stops
    // it at the next progress call.
    static void InstallInterruptHandler();
    // Ctrl+C presses so far, for every thread that watches them.
    static int InterruptCount();
    void HandleInterrupts();

private:
    bool SeveralPorts() const { return !options_.port.empty(); }
    // The device is known: its name on the board, the JSON start event.
    void NoteDevice();
    // OK or Cancel typed on the terminal; Ctrl+C while it waits is Cancel.
    bool AskAtTerminal(const std::string& text, const std::string& title);
    // The line typed after prompt; false for Ctrl+C or the end of input.
    bool ReadAnswer(const std::string& text, const std::string& title, const std::string& prompt, std::string* line);
    void Event(nlohmann::json event) { sink_.Event(std::move(event)); }

    AppState& state_;
    UiSink& sink_;
    const Options options_;
    const bool json_;
    int lastProgress_ = -1;
    int interruptsSeen_ = 0;
    bool conflictUnanswered_ = false;
    bool deviceNoted_ = false;
    std::string oldVersion_;
};
