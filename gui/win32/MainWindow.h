// kelobsl.exe's main window: a modeless dialog built from the dialog resource,
// so its layout is in dialog units of the dialog font. It forwards each
// control's event to the window model and draws what the model says; it is
// also the update's front end (UpdateUi) and installs the event pump that
// keeps the window painting and answering while an update runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MainWindowModel.h"
#include "RegistryPreferences.h"
#include "UpdateUi.h"

class MainWindow : public UpdateUi {
public:
    // arguments: the command line after the program name.
    MainWindow(HINSTANCE instance, std::vector<std::string> arguments);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates and shows the window. False when start-up failed (the reason was shown).
    bool Create(int show);
    // The message loop; returns the exit code once the window is gone.
    int Run();

    void ShowStatus(const std::string& text) override;
    void HideStatus() override;
    void SetProgress(const Progress& progress) override;
    void ShowTransfer(const Progress& progress) override;
    void SetConnectText(const std::string& text) override;
    void SetBusy(bool busy) override;
    void ShowMessage(const std::string& text, const std::string& title, MessageKind kind) override;
    bool AskOkCancel(const std::string& text, const std::string& title) override;
    int AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                           const std::string& title) override;
    void Beep(MessageKind kind) override;
    void PumpEvents() override;

private:
    // A GDI font or icon made here, freed with the window object.
    struct OwnedFont {
        HFONT handle = nullptr;
        ~OwnedFont() { Reset(nullptr); }
        void Reset(HFONT font);
    };
    struct OwnedIcon {
        HICON handle = nullptr;
        ~OwnedIcon() { Reset(nullptr); }
        void Reset(HICON icon);
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Dispatch(MSG& message);
    void Pump(uint32_t maxWaitMs);

    void SetUpControls();
    void ApplyFonts();
    void Refresh();
    void RefreshPortList();
    void ShowFactoryItems(bool dontErase, bool replaceSerial);
    void FitTexts();
    void CentreOnScreen();
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    void SetText(int id, const std::string& text);
    void SetVisible(int id, bool visible);

    void OnCommand(int id, int code);
    void OnTimer(UINT_PTR timer);
    void PressStart();
    void PressClose();
    void Quit();
    void OpenFirmwareFile();
    void ChooseSerialNumberList();
    std::string FileVersion() const;

    HINSTANCE instance_;
    std::vector<std::string> arguments_;
    RegistryPreferences preferences_;
    MainWindowModel model_;

    HWND window_ = nullptr;
    HACCEL accelerators_ = nullptr;
    OwnedFont boldFont_;
    OwnedIcon productIcon_;
    bool busy_ = false;
    bool refreshing_ = false;
    bool dontEraseShown_ = false;
    bool replaceSerialShown_ = false;
    bool serialListShown_ = false;
    bool newSerialReadOnly_ = false;
    HWND newSerialTip_ = nullptr;  // the box's tooltip: where its number comes from
    int widenedBy_ = 0;  // pixels added to the drawn layout for long texts
};
