// The front end of one port's update in a run that updates several: it
// reports to the shared ProgressBoard, names its port in every message and
// question, and asks its questions one at a time with the other ports.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "AppState.h"
#include "ProgressBoard.h"
#include "ProgressEstimate.h"
#include "UpdateUi.h"

class PortUi : public UpdateUi {
public:
    struct Options {
        bool assumeYes = false;
        std::string settingsFrom;  // "saved", "device" or empty
    };
    PortUi(AppState& state, ProgressBoard& board, int row, Options options);

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
    int AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                           const std::string& title) override;
    void Beep(MessageKind) override {}
    void PumpEvents() override { HandleInterrupts(); }

    // The first Ctrl+C warns (once for the run), the second stops this update.
    void HandleInterrupts();
    bool ConflictUnanswered() const { return conflictUnanswered_; }
    // The device's version before the update, as first read; empty when none was.
    const std::string& OldVersion() const { return oldVersion_; }
    // With --json: makes the "start" event once the device is known; the
    // events before it wait for it, as in a one-port run.
    void SetStartEvent(std::function<std::string()> makeStart) { makeStart_ = std::move(makeStart); }
    // The final JSON event of this port, after its start event.
    void Result(nlohmann::json event);

private:
    // With --json: one event of this port (its "port" member is added).
    void Emit(nlohmann::json event);
    void NoteDevice();
    void SendStart();
    std::string Header(const std::string& title) const;

    AppState& state_;
    ProgressBoard& board_;
    const int row_;
    const Options options_;
    const bool json_;
    int lastProgress_ = -1;
    ProgressEstimate estimate_;  // this port's alone: only its thread touches it
    int interruptsSeen_ = 0;
    bool conflictUnanswered_ = false;
    bool deviceNoted_ = false;
    std::string oldVersion_;
    std::function<std::string()> makeStart_;
    bool startSent_ = false;
    std::vector<std::string> heldBack_;
};
