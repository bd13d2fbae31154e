// kelobsl's main window in Qt Widgets: creates the controls, forwards their
// events to the window model and draws what the model says. It is also the
// update's front end (UpdateUi) and installs the event pump that keeps the
// window painting and answering while an update runs on this thread.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <string>
#include <vector>

#include "MainWindowModel.h"
#include "QtPreferences.h"
#include "UpdateUi.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class PortComboBox;

class MainWindow : public QMainWindow, public UpdateUi {
public:
    // arguments: the command line after the program name.
    explicit MainWindow(const std::vector<std::string>& arguments);
    ~MainWindow() override;

    // False when start-up failed (the reason was shown).
    bool Started() const { return started_; }

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateMenus();
    void LayOut();
    void Refresh();
    void RefreshPortList();
    void SetLabel(QLabel* label, const std::string& text);
    void Pump(uint32_t maxWaitMs);

    void StartClicked();
    void UpdateFirmwareClicked();
    void StartTimerFired();
    void CloseClicked();
    void ExitClicked();
    void OpenFirmwareFileClicked();
    void ReplaceSerialNumberClicked();
    void SerialNumberListClicked();

    QtPreferences preferences_;
    MainWindowModel model_;
    bool started_ = false;
    bool quitConfirmed_ = false;

    QWidget* client_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* userText1_ = nullptr;
    QLabel* userText2_ = nullptr;
    QLabel* demoNotice_ = nullptr;
    QLabel* lblConnect_ = nullptr;
    QWidget* panel1_ = nullptr;
    QLabel* commLabel_ = nullptr;
    PortComboBox* cbCommPort_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* statusText_ = nullptr;
    QProgressBar* statusBar_ = nullptr;
    QLabel* newSN_ = nullptr;
    QLineEdit* newSNstr_ = nullptr;
    QPushButton* btnClose_ = nullptr;
    QPushButton* btnStart_ = nullptr;
    QTimer timerEraseWarn_;
    QTimer timerStart_;

    QAction* openFirmware_ = nullptr;
    QAction* updateFirmware_ = nullptr;
    QAction* verboseLog_ = nullptr;
    QAction* findAllComms_ = nullptr;
    QAction* dontEraseData_ = nullptr;
    QAction* replaceSerialNumber_ = nullptr;
    QAction* serialNumberList_ = nullptr;

    // Geometry is given for an 8-point font on a 96-DPI screen; these scale it.
    double scaleX_ = 1.0;
    double scaleY_ = 1.0;
};
