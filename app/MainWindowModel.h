// The main window without a toolkit: start-up and close, the port list, the
// menus, the firmware file, the quit confirmation and every label's text.
// A view creates the controls, forwards each event to the call of the same
// name here and then draws what the model says (Labels, Controls, Menu,
// PortItems). Messages, questions and the update's progress go through the
// view's UpdateUi.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppState.h"
#include "CommPortEnum.h"
#include "Preferences.h"
#include "UpdateUi.h"

class UpdateWorkflow;
struct UpdateOutcome;

class MainWindowModel {
public:
    // Fills up to *count entries (in: capacity, out: found); CommPortEnum's contract.
    using PortLister = std::function<int(CommPortEntry* entries, int* count, bool findAll)>;

    struct StartOptions {
        std::vector<std::string> arguments;  // after the program name
        std::string dataFolder;              // empty: the per-user data folder
        PortLister listPorts;                // empty: the computer's serial ports
    };

    struct Labels {
        std::string caption;          // the window's title
        std::string applicationTitle;
        std::string userText1;
        std::string userText2;        // the firmware this updater loads
        std::string demoNotice;       // under the firmware label; empty for real firmware
        std::string commLabel;
        std::string connectText;
        std::string newSerialLabel;  // over the serial number box: where its number comes from
    };

    struct Controls {
        bool startEnabled = true;
        bool startIsDefault = true;
        bool closeEnabled = true;
        bool closeIsDefault = false;
        bool portListEnabled = true;
        bool newSerialVisible = false;
        bool newSerialReadOnly = false;  // the number comes from a list
        std::string newSerialHint;       // the box's tooltip: the list's path
    };

    struct Menu {
        bool openFirmwareEnabled = false;
        bool updateFirmwareEnabled = true;
        bool verboseChecked = false;
        bool findAllChecked = false;
        bool dontEraseVisible = false;
        bool dontEraseChecked = false;
        bool replaceSerialVisible = false;
        bool replaceSerialChecked = false;
        bool serialListVisible = false;  // File: "Serial Numbers from List..."
        bool serialListEnabled = false;
        bool serialListChecked = false;  // a list is in use
    };

    static constexpr int kEraseWarnDelayMs = 500;
    static constexpr int kStartDelayMs = 100;
    static constexpr int kNewSerialMaxLength = 15;
    static constexpr const char* kNoPortsItem = "No Comm Ports Found";

    MainWindowModel(Preferences& preferences, UpdateUi& ui);
    ~MainWindowModel();
    MainWindowModel(const MainWindowModel&) = delete;
    MainWindowModel& operator=(const MainWindowModel&) = delete;

    // Start-up: switches ("-rep", "-factory", "--port PATH"), target labels,
    // preferences, data folder, log, port list and selection, protocol
    // objects. False with a message when the data folder cannot be made.
    bool FormShow(const StartOptions& options, std::string* error);
    // Writes the preferences, deletes an empty log, frees the objects. Runs once.
    void FormClose();
    // Whether the data-erase warning is due 500 ms after the window shows.
    bool EraseWarningDue() const { return eraseWarningDue_; }
    void EraseWarnTimerFired();

    // The port list: refreshed when it drops down; a pick selects a port.
    const std::vector<std::string>& PortItems() const { return portItems_; }
    int SelectedPortItem() const { return selectedItem_; }
    void PortListDropDown();
    void PortPicked(int index);

    // Start and "Update Firmware": true when the view should start the
    // 100 ms start timer. The timer's handler calls StartTimerFired.
    bool StartClicked();
    bool UpdateFirmwareClicked();
    // Runs one update (nothing when one runs already) and returns its
    // result; 0 when none ran.
    int StartTimerFired();
    // The Close button: true when the window may close now.
    bool CloseClicked();
    // "Exit" and the close box: true when the window may close now.
    bool ConfirmQuit();

    // Loads a firmware file chosen in the open dialog (rep mode only).
    int OpenFirmwareFile(const std::string& path);
    void ToggleVerboseLog();
    void ToggleFindAllComms();
    void ToggleDontEraseData();
    void ToggleReplaceSerialNumber();
    void SetNewSerialNumber(const std::string& text);
    // Factory mode: each update's new serial number comes from the list at
    // path (a file chosen in the open dialog), shown in the box before
    // Start; "Replace Serial Number" turns on. False, with a message, when
    // the file cannot be read: nothing changes then. Turning "Replace
    // Serial Number" off stops using the list.
    bool UseSerialNumberList(const std::string& path);
    const std::string& SerialNumberListPath() const { return serialListPath_; }
    const std::string& NewSerialNumber() const { return newSerialNumber_; }
    void ShowHelp();
    void ShowAbout(const std::string& version);

    // The status line: the workflow's status and, during the firmware
    // write, the time it has left: "Uploading new firmware code... (01:05 left)".
    // A view draws StatusLine() after StatusShown, and after ProgressShown
    // when that returns true (the line changed).
    void StatusShown(const std::string& text);
    bool ProgressShown(const Progress& progress);
    const std::string& StatusLine() const { return statusLine_; }
    // "01:05 left", or empty when no time left is known or none is left.
    static std::string TimeLeftText(const Progress& progress);

    const Labels& GetLabels() const { return labels_; }
    const Controls& GetControls() const { return controls_; }
    Menu GetMenu() const;
    bool Updating() const { return state_.updating; }
    bool Closed() const { return closed_; }
    const AppState& State() const { return state_; }
    // The port the next update uses (empty: none).
    const std::string& SelectedPort() const { return portName_; }

    // Open-dialog texts.
    static constexpr const char* kOpenTitle = "Please select a firmware file";
    static constexpr const char* kSerialListTitle = "Please select a list of serial numbers";

private:
    void SetTargetLabels(const std::string& device, const std::string& firmwareLabel);
    void FillPortList();
    bool AskDemonstrationImage();
    // The box, its label and tooltip for the manual number or the list's next one.
    void ShowSerialNumberSource();
    // The controls after an update (ran), or after a Start that ran none.
    void ReadyForNextUpdate(bool ran);
    // Takes the next update's number from the list: false (and the update
    // must not start) when none is left or the list cannot be used.
    bool TakeListedNumber();
    void SettleListedNumber(const UpdateOutcome& outcome);

    static constexpr int kPortListSize = 8;

    Preferences& preferences_;
    UpdateUi& ui_;
    AppState state_;
    // The window's session: the ports listed and the choices for the next update.
    CommPortEntry portList_[kPortListSize] = {};
    int portIndex_ = 0;
    std::string portName_;
    bool findAllComms_ = false;
    bool replaceSerialNumber_ = false;
    std::string newSerialNumber_;  // the newSNstr edit box
    std::string serialListPath_;   // the list the numbers come from; empty: typed in the box
    std::string takenNumber_;      // taken from the list for the update now running
    std::string takenFrom_;        // the list it was taken from
    std::string listNote_;         // numbers the take skipped, said after the update
    bool dontEraseData_ = false;
    std::unique_ptr<UpdateWorkflow> workflow_;
    PortLister listPorts_;
    std::string extraPort_;  // --port: listed first and selected
    int portCount_ = 0;
    std::vector<std::string> portItems_;
    int selectedItem_ = 0;
    Labels labels_;
    Controls controls_;
    bool updateMenuEnabled_ = true;
    bool demonstrationImage_ = false;
    bool eraseWarningDue_ = false;
    bool shown_ = false;
    bool closed_ = false;
    std::string status_;
    Progress progress_;
    std::string statusLine_;
};
