#include "MainWindowModel.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "AppSetup.h"
#include "CommPortEnum.h"
#include "DeviceTypes.h"
#include "Result.h"
#include "ResultWords.h"
#include "SerialNumberList.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"
#include "UpdateWorkflow.h"

namespace {

std::string BaseName(const std::string& path)
{
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Short enough for the line under the firmware label.
std::string DemonstrationNotice()
{
    return "Demonstration image: it boots only in kelosim.";
}

constexpr const char* kNewSerialLabel = "New Serial Number";
constexpr const char* kListTitle = "Serial Number List";

std::string DemonstrationQuestion(const std::string& device)
{
    return "This updater carries a demonstration image, not a released firmware for your " + device +
           ".\nWritten to a real instrument it leaves it without working firmware.\n(" + texts::DemoImageNote() +
           ")\n\nClick OK to write the demonstration image anyway.\nClick CANCEL to stop.";
}

}  // namespace

MainWindowModel::MainWindowModel(Preferences& preferences, UpdateUi& ui) : preferences_(preferences), ui_(ui) {}

MainWindowModel::~MainWindowModel()
{
    FormClose();
}

bool MainWindowModel::FormShow(const StartOptions& options, std::string* error)
{
    SetupOptions setup;
    const auto& args = options.arguments;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-factory")
            setup.factoryMode = true;
        else if (args[i] == "-rep")
            setup.repMode = true;
        else if (args[i] == "--port" && i + 1 < args.size())
            extraPort_ = args[++i];
        else if (args[i].rfind("--port=", 0) == 0)
            extraPort_ = args[i].substr(7);
    }

    // The log's level follows the stored preference, so read it first.
    const PreferenceValues stored = preferences_.Read();
    setup.verboseLog = stored.verboseLog;
    setup.dataFolder = options.dataFolder;
    if (!SetUpAppState(state_, setup, error))
        return false;
    findAllComms_ = stored.findAllComms;

    labels_.caption = state_.caption;
    labels_.applicationTitle = state_.deviceName + " Updater";
    SetTargetLabels(state_.deviceName, BuildTarget::kLabel);
    demonstrationImage_ = BuiltInImageIsDemo();
    labels_.demoNotice = demonstrationImage_ ? DemonstrationNotice() : "";
    labels_.newSerialLabel = kNewSerialLabel;
    eraseWarningDue_ = DeviceTypeInfo(BuildTarget::kDeviceType).storedDataWarning && !state_.repMode;

    listPorts_ = options.listPorts;
    if (!listPorts_) {
        listPorts_ = [this](CommPortEntry* entries, int* count, bool findAll) {
            return CommPortEnum(state_.portEnumerator.get(), entries, count, findAll);
        };
    }
    FillPortList();
    portIndex_ = 0;
    if (extraPort_.empty() && stored.hasCommPort) {
        for (int i = 0; i < portCount_; ++i) {
            if (stored.commPort == portList_[i].portName) {
                portIndex_ = i;
                break;
            }
        }
    }
    selectedItem_ = portIndex_;
    if (portCount_ > 0) {
        portName_ = portList_[portIndex_].portName;
    } else {
        portName_.clear();
        controls_.startEnabled = false;
    }

    workflow_ = std::make_unique<UpdateWorkflow>(state_, ui_);
    shown_ = true;
    return true;
}

void MainWindowModel::FormClose()
{
    if (!shown_ || closed_)
        return;
    closed_ = true;
    PreferenceValues values;
    values.findAllComms = findAllComms_;
    values.verboseLog = state_.verboseLog;
    values.hasCommPort = true;
    values.commPort = portName_;
    preferences_.Write(values);
    workflow_.reset();
    CloseAppState(state_);
}

void MainWindowModel::EraseWarnTimerFired()
{
    eraseWarningDue_ = false;
    ui_.ShowMessage(texts::DataEraseWarning(state_.caption, state_.deviceName), "Data Erase Warning",
                    MessageKind::Warning);
}

void MainWindowModel::SetTargetLabels(const std::string& device, const std::string& firmwareLabel)
{
    labels_.userText1 = "This utility updates " + device + " firmware to";
    labels_.userText2 = firmwareLabel;
    labels_.commLabel = "Connect to " + device + " with Comm Port";
    labels_.connectText = texts::ConnectDevice(device);
}

void MainWindowModel::FillPortList()
{
    // A port named with --port comes first, ahead of what the system lists.
    int first = 0;
    if (!extraPort_.empty()) {
        std::snprintf(portList_[0].portName, sizeof portList_[0].portName, "%s", extraPort_.c_str());
        std::snprintf(portList_[0].displayText, sizeof portList_[0].displayText, "%s",
                      extraPort_.c_str());
        first = 1;
    }
    int count = kPortListSize - first;
    if (listPorts_(portList_ + first, &count, findAllComms_) < 0)
        count = 0;
    portCount_ = first + count;
    portItems_.clear();
    for (int i = 0; i < portCount_; ++i)
        portItems_.push_back(portList_[i].displayText);
    if (portCount_ == 0)
        portItems_.push_back(kNoPortsItem);
}

void MainWindowModel::PortListDropDown()
{
    FillPortList();
    selectedItem_ = portCount_ > 0 && portIndex_ < portCount_ ? portIndex_ : 0;
}

void MainWindowModel::PortPicked(int index)
{
    if (index < 0 || index >= static_cast<int>(portItems_.size()))
        return;
    selectedItem_ = index;
    portIndex_ = index;
    portName_ = index < portCount_ ? portList_[index].portName : "";
    if (!portName_.empty())
        controls_.startEnabled = true;
}

bool MainWindowModel::AskDemonstrationImage()
{
    return !demonstrationImage_ ||
           ui_.AskOkCancel(DemonstrationQuestion(state_.deviceName), "Demonstration Image");
}

bool MainWindowModel::StartClicked()
{
    if (state_.updating || !controls_.startEnabled || !AskDemonstrationImage())
        return false;
    controls_.startEnabled = false;
    controls_.closeEnabled = false;
    updateMenuEnabled_ = false;
    return true;
}

bool MainWindowModel::UpdateFirmwareClicked()
{
    if (state_.updating || !updateMenuEnabled_ || !AskDemonstrationImage())
        return false;
    updateMenuEnabled_ = false;
    return true;
}

int MainWindowModel::StartTimerFired()
{
    // A Start pressed during an update begun from the menu lands here while
    // that update still runs: one update at a time.
    if (state_.updating || !workflow_)
        return 0;
    // The number is taken before the device is touched: with none to take
    // the update does not start.
    if (!serialListPath_.empty() && !TakeListedNumber()) {
        ReadyForNextUpdate(false);
        return 0;
    }
    controls_.portListEnabled = false;
    UpdateRequest request;
    request.port = portName_;
    if (portIndex_ >= 0 && portIndex_ < kPortListSize)
        request.portLabel = portList_[portIndex_].displayText;
    request.image = state_.bootloader->TargetName();
    request.newSerialNumber = replaceSerialNumber_ ? newSerialNumber_ : "";
    request.keepData = dontEraseData_;
    const UpdateOutcome outcome = workflow_->Run(request);
    if (!takenNumber_.empty())
        SettleListedNumber(outcome);
    if (serialListPath_.empty()) {
        // The new serial number is for one instrument: the next update asks again.
        replaceSerialNumber_ = false;
        newSerialNumber_.clear();
    }
    controls_.newSerialVisible = replaceSerialNumber_;
    ReadyForNextUpdate(true);
    ShowSerialNumberSource();  // a list's next number, for the next instrument
    return outcome.result;
}

void MainWindowModel::ReadyForNextUpdate(bool ran)
{
    controls_.startEnabled = true;
    controls_.closeEnabled = true;
    if (ran) {
        controls_.startIsDefault = false;
        controls_.closeIsDefault = true;
    }
    controls_.portListEnabled = true;
    updateMenuEnabled_ = true;
}

bool MainWindowModel::TakeListedNumber()
{
    SerialNumberList list(serialListPath_, (std::filesystem::path(state_.dataFolder) / UpdateHistory::kFileName).string());
    std::string number, error;
    listNote_.clear();
    const SerialNumberList::Take taken = list.TakeForUpdate(portName_, &number, &listNote_, &error);
    if (taken != SerialNumberList::Take::Taken) {
        const std::string why = taken == SerialNumberList::Take::NoneLeft ? listNote_ : error;
        ui_.ShowMessage("The " + state_.deviceName + " was not touched: " + why +
                            ".\n\nThen click Start again, or choose another list (File, Serial Numbers from "
                            "List...).",
                        kListTitle, MessageKind::Error);
        listNote_.clear();
        ShowSerialNumberSource();
        return false;
    }
    takenNumber_ = number;
    takenFrom_ = serialListPath_;
    newSerialNumber_ = number;  // the box shows what this instrument gets
    return true;
}

void MainWindowModel::SettleListedNumber(const UpdateOutcome& outcome)
{
    const std::string number = std::move(takenNumber_);
    takenNumber_.clear();
    SerialNumberList list(takenFrom_, (std::filesystem::path(state_.dataFolder) / UpdateHistory::kFileName).string());
    const std::string version = state_.bootloader->ImageVersionKnown() ? VersionText(state_.targetVersion) : "";
    const std::string device = outcome.device.type ? outcome.device.displayName : state_.deviceName;
    std::string error;
    std::string text = listNote_.empty() ? "" : listNote_ + ".";
    if (!list.Settle(number, workflow_->LastRecord().newSerialNumber, device, portName_, version, &error)) {
        const bool written = workflow_->LastRecord().newSerialNumber == number;
        text += std::string(text.empty() ? "" : "\n\n") + "The list could not record what became of " + number +
                ": " + error + ".\n\n" +
                (written ? "The instrument carries " + number + ": mark it used in the list by hand (" + number +
                               ", a tab, \"used\")."
                         : number + " was not written: remove its mark in the list by hand so that it is handed out again.");
    }
    listNote_.clear();
    if (!text.empty())
        ui_.ShowMessage(text, kListTitle, error.empty() ? MessageKind::Information : MessageKind::Warning);
}

bool MainWindowModel::CloseClicked()
{
    // During an update begun from the menu the button stays enabled: it must
    // not pull the window and its objects from under the update.
    return state_.updating ? ConfirmQuit() : true;
}

bool MainWindowModel::ConfirmQuit()
{
    if (!state_.updating) {
        state_.keepGoing = false;
        return true;
    }
    ui_.ShowMessage(texts::DontQuitNow(state_.caption, state_.deviceName), "Don't Quit Now!", MessageKind::Warning);
    return false;
}

int MainWindowModel::OpenFirmwareFile(const std::string& path)
{
    // Never swap the image under a running transfer.
    if (!state_.repMode || state_.updating)
        return result::kNotNow;
    std::shared_ptr<const FirmwareImage> image;
    InputFileStatus problem = InputFileStatus::Ok;
    int result = FirmwareImage::Load(path.c_str(), state_.log.get(), &image, &problem);
    if (result < 0) {
        ui_.ShowMessage(texts::FileError(result, problem, state_.caption, BaseName(path)),
                        "File Error", MessageKind::Error);
        return result;
    }
    AdoptFirmware(state_, image);
    SetTargetLabels(state_.deviceName, state_.bootloader->TargetName());
    demonstrationImage_ = false;
    labels_.demoNotice.clear();
    ui_.Beep(MessageKind::Information);
    return result;
}

void MainWindowModel::ToggleVerboseLog()
{
    state_.verboseLog = !state_.verboseLog;
    if (state_.log)
        state_.log->SetLevel(state_.verboseLog ? 30 : 1);
}

void MainWindowModel::ToggleFindAllComms()
{
    findAllComms_ = !findAllComms_;
}

void MainWindowModel::ToggleDontEraseData()
{
    if (state_.factoryMode)
        dontEraseData_ = !dontEraseData_;
}

void MainWindowModel::ToggleReplaceSerialNumber()
{
    if (!state_.factoryMode || state_.updating)
        return;
    replaceSerialNumber_ = !replaceSerialNumber_;
    controls_.newSerialVisible = replaceSerialNumber_;
    if (!replaceSerialNumber_ && !serialListPath_.empty()) {
        // Off stops using the list: on again, the box takes a typed number.
        serialListPath_.clear();
        newSerialNumber_.clear();
    }
    ShowSerialNumberSource();
}

void MainWindowModel::SetNewSerialNumber(const std::string& text)
{
    if (serialListPath_.empty())
        newSerialNumber_ = text.substr(0, kNewSerialMaxLength);
}

bool MainWindowModel::UseSerialNumberList(const std::string& path)
{
    if (!state_.factoryMode || state_.updating)
        return false;
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored) || !std::ifstream(path, std::ios::binary)) {
        ui_.ShowMessage("The serial number list \"" + path + "\" cannot be read.\n\nChoose a text file with one serial "
                        "number a line.",
                        kListTitle, MessageKind::Error);
        return false;
    }
    serialListPath_ = path;
    replaceSerialNumber_ = true;
    controls_.newSerialVisible = true;
    ShowSerialNumberSource();
    return true;
}

void MainWindowModel::ShowSerialNumberSource()
{
    controls_.newSerialReadOnly = !serialListPath_.empty();
    if (serialListPath_.empty()) {
        labels_.newSerialLabel = kNewSerialLabel;
        controls_.newSerialHint.clear();
        return;
    }
    const SerialNumberList list(serialListPath_,
                                (std::filesystem::path(state_.dataFolder) / UpdateHistory::kFileName).string());
    newSerialNumber_ = list.PeekNext();
    labels_.newSerialLabel = std::string(kNewSerialLabel) + " from " + BaseName(serialListPath_) +
                             (newSerialNumber_.empty() ? ": none left" : "");
    controls_.newSerialHint = "The next free number in " + serialListPath_ + ", taken when the update starts";
}

void MainWindowModel::ShowHelp()
{
    const bool warning = DeviceTypeInfo(BuildTarget::kDeviceType).storedDataWarning;
    ui_.ShowMessage(texts::HelpText(state_.caption, state_.deviceName, warning), "Help", MessageKind::Plain);
}

void MainWindowModel::ShowAbout(const std::string& version)
{
    ui_.ShowMessage(texts::AboutText(version), "About", MessageKind::Information);
}

MainWindowModel::Menu MainWindowModel::GetMenu() const
{
    Menu menu;
    menu.openFirmwareEnabled = state_.repMode && !state_.updating;
    menu.updateFirmwareEnabled = updateMenuEnabled_;
    menu.verboseChecked = state_.verboseLog;
    menu.findAllChecked = findAllComms_;
    menu.dontEraseVisible = state_.factoryMode;
    menu.dontEraseChecked = dontEraseData_;
    menu.replaceSerialVisible = state_.factoryMode;
    menu.replaceSerialChecked = replaceSerialNumber_;
    menu.serialListVisible = state_.factoryMode;
    menu.serialListEnabled = state_.factoryMode && !state_.updating;
    menu.serialListChecked = !serialListPath_.empty();
    return menu;
}

// The time left is shown while the firmware write has some: before the rate
// is known there is nothing honest to show, and after the write the
// restart's wait is not part of it.
std::string MainWindowModel::TimeLeftText(const Progress& progress)
{
    if (!progress.eta || *progress.eta <= 0)
        return {};
    return MinutesSeconds(*progress.eta) + " left";
}

void MainWindowModel::StatusShown(const std::string& text)
{
    status_ = text;
    const std::string left = TimeLeftText(progress_);
    statusLine_ = left.empty() ? status_ : status_ + " (" + left + ")";
}

bool MainWindowModel::ProgressShown(const Progress& progress)
{
    progress_ = progress;
    const std::string before = statusLine_;
    StatusShown(status_);
    return statusLine_ != before;
}
