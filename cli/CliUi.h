// The update's front end on a terminal: status lines and messages on stdout,
// a progress bar on a terminal (plain percentages otherwise), the two
// questions asked on the terminal, or one JSON object per line with --json.
#pragma once

#include <cstdio>
#include <string>

#include "AppState.h"
#include "UpdateUi.h"

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
    void SetConnectText(const std::string& text) override;
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    SettingsChoice AskSettingsConflict(const std::string& text, const std::string& title) override;
    bool ConflictUnanswered() const { return conflictUnanswered_; }
    void Beep(MessageKind) override {}
    void PumpEvents() override;

    // Ctrl+C: the first press warns and the update goes on; the second stops
    // it at the next progress call.
    static void InstallInterruptHandler();
    void HandleInterrupts();

    // The final line: RunUpdate's code, the exit code, the elapsed seconds,
    // the step that ended the update and where the log is.
    void Result(int code, int exitCode, uint32_t seconds, const char* step, const std::string& logPath);

private:
    void EndProgressLine();
    void Emit(const std::string& jsonLine);

    AppState& state_;
    Options options_;
    bool progressOnTerminal_;
    bool progressLineOpen_ = false;
    int lastProgress_ = -1;
    int interruptsSeen_ = 0;
    bool conflictUnanswered_ = false;
};
