// The update's front end on a terminal: status lines and messages on stdout,
// a progress bar on a terminal (plain percentages otherwise), the two
// questions asked on the terminal, or one JSON object per line with --json.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "AppState.h"
#include "ProgressEstimate.h"
#include "UpdateUi.h"

// A message's kind as the JSON events name it: "error", "warning" ...
const char* KindName(MessageKind kind);
// The candidates of "Which Instrument?", one per line pair, numbered, for a terminal.
std::string CandidateList(const std::vector<SettingsCandidate>& candidates);
// The same as a JSON array.
std::string CandidatesJson(const std::vector<SettingsCandidate>& candidates);
// What a front end that cannot ask "Which Instrument?" says after the list.
extern const char* const kWhichInstrumentNotAsked;

class CliUi : public UpdateUi {
public:
    struct Options {
        bool json = false;
        bool assumeYes = false;  // answer OK to both questions
        // "Settings Conflict" is answered only by --settings-from: "saved" or
        // "device"; empty leaves it unanswered and the update stops.
        std::string settingsFrom;
    };
    CliUi(AppState& state, Options options);

    void ShowStatus(const std::string& text) override;
    void HideStatus() override {}
    void SetProgress(int position) override;
    void SetTransferBytes(long long done, long long total) override;
    void SetConnectText(const std::string& text) override;
    void SetBusy(bool busy) override;
    void ShowMessage(const std::string& text, const std::string& title, MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    SettingsChoice AskSettingsConflict(const std::string& text, const std::string& title) override;
    bool AskLosingSettings(const std::string& text, const std::string& title) override;
    // Not asked here: lists the candidates and how to answer, and stops.
    int AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                           const std::string& title) override;
    // A question only the person may answer ("Settings Conflict", "Settings
    // Retrieve Error" for a device that named settings) stopped the update.
    bool ConflictUnanswered() const { return conflictUnanswered_; }
    void Beep(MessageKind) override {}
    void PumpEvents() override;

    // With --json the first line is a "start" event that names the device:
    // the events before the device is known are held back until then. The
    // function makes the event's JSON text when it is due.
    void SetStartEvent(std::function<std::string()> makeStart) { makeStart_ = std::move(makeStart); }

    // Ctrl+C: the first press warns and the update goes on; the second stops
    // it at the next progress call.
    static void InstallInterruptHandler();
    // Ctrl+C presses so far, for every thread that watches them.
    static int InterruptCount();
    void HandleInterrupts();

    // The final JSON event (the words for a person are printed by the command).
    void Result(const std::string& resultJson);

private:
    void EndProgressLine();
    // OK or Cancel typed on the terminal; Ctrl+C while it waits is Cancel.
    bool AskAtTerminal(const std::string& text, const std::string& title);
    void DrawBar();
    void Emit(const std::string& jsonLine);
    void SendStart();

    AppState& state_;
    Options options_;
    bool progressOnTerminal_;
    bool progressLineOpen_ = false;
    int lastProgress_ = -1;
    std::size_t lastBarWidth_ = 0;
    ProgressEstimate estimate_;
    int interruptsSeen_ = 0;
    bool conflictUnanswered_ = false;
    std::function<std::string()> makeStart_;
    bool startSent_ = false;
    std::vector<std::string> heldBack_;
};
