// What the update workflow needs from its front end. The window and the
// command line each implement it; the workflow never sees a toolkit.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "UpdateContract.h"

enum class MessageKind { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Plain = 4 };

// The answer to "Settings Conflict": restore the settings file left by an
// earlier run, go on with what was just read from the device, or stop.
enum class SettingsChoice { Saved, Device, Stop };

// One unfinished update whose settings a device found in its firmware loader
// may need: that device cannot say who it is, so the person picks.
struct SettingsCandidate {
    std::string serialNumber;  // empty when the file names none
    std::time_t saved = 0;     // when the settings were saved
    std::string file;          // the pending settings file
    std::string port;          // the port its update ran on (empty: not recorded)
};

// Answers to "Which Instrument?" besides a candidate's index.
constexpr int kNoneOfThese = -1;  // update without settings (they are not restored)
constexpr int kStopUpdate = -2;   // stop before anything is written

class UpdateUi {
public:
    virtual ~UpdateUi() = default;

    // The status line: set, show, repaint, and let pending events run.
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void HideStatus() = 0;
    // The bar moved: its percent, the time since the update began and,
    // during the firmware write, its time left and line rate. The workflow
    // works them out; a front end only shows them.
    virtual void SetProgress(const Progress& progress) = 0;
    // More of the firmware image is written (characters of its image text,
    // what the loader sends), the bar may not have moved: the same figures,
    // newer. Comes before the SetProgress of the same step. A front end that
    // shows no time left ignores it.
    virtual void ShowTransfer(const Progress& /*progress*/) {}
    // The update reached step with the device as it answered so far (type
    // 0 when it did not say: none, or one in its loader). Loader: the device
    // is identified and its settings are safe, the firmware loader starts.
    virtual void StepReached(UpdateStep /*step*/, const DeviceIdentity& /*device*/) {}
    // "Do NOT disconnect ..." and friends above the port list.
    virtual void SetConnectText(const std::string& text) = 0;
    // Controls disabled and busy cursor while an update runs.
    virtual void SetBusy(bool busy) = 0;
    // A modal message with one OK button (and the kind's beep).
    virtual void ShowMessage(const std::string& text, const std::string& title, MessageKind kind) = 0;
    // A question with OK and Cancel, exclamation icon; true for OK.
    virtual bool AskOkCancel(const std::string& text, const std::string& title) = 0;
    // "Settings Conflict": a window asks OK (the saved file) or Cancel (stop).
    virtual SettingsChoice AskSettingsConflict(const std::string& text, const std::string& title)
    {
        return AskOkCancel(text, title) ? SettingsChoice::Saved : SettingsChoice::Stop;
    }
    // A question that no default answer (the command line's --yes) may
    // answer OK: going on loses an instrument's settings. A window asks it
    // as AskOkCancel does.
    virtual bool AskLosingSettings(const std::string& text, const std::string& title)
    {
        return AskOkCancel(text, title);
    }
    // "Which Instrument?": a device in its loader may be any of candidates.
    // Returns the index of the one picked, kNoneOfThese or kStopUpdate. A
    // front end that cannot ask stops.
    virtual int AskWhichInstrument(const std::string& /*text*/, const std::vector<SettingsCandidate>& /*candidates*/,
                                   const std::string& /*title*/)
    {
        return kStopUpdate;
    }
    virtual void Beep(MessageKind kind) = 0;
    // Repaint and handle pending events (clicks, Ctrl+C) without waiting.
    virtual void PumpEvents() = 0;
};
