#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "InstrumentChoiceDialog.h"
#include "PortComboBox.h"
#include "Timing.h"

#ifndef KELO_VERSION
#define KELO_VERSION ""
#endif

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QMessageBox::Icon IconFor(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning: return QMessageBox::Warning;
    case MessageKind::Error: return QMessageBox::Critical;
    case MessageKind::Information: return QMessageBox::Information;
    case MessageKind::Confirmation: return QMessageBox::Question;
    case MessageKind::Plain: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

QLabel* NewLabel(QWidget* parent, const char* name, const char* text, bool bold)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

}  // namespace

MainWindow::MainWindow(const std::vector<std::string>& arguments) : model_(preferences_, *this)
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(":/kelobsl/kelobsl.png"));
    CreateControls();
    CreateMenus();

    MainWindowModel::StartOptions options;
    options.arguments = arguments;
    std::string error;
    started_ = model_.FormShow(options, &error);
    if (!started_) {
        ShowMessage(error, "KeloBSL", MessageKind::Error);
        return;
    }
    SetEventPump([this](uint32_t maxWaitMs) { Pump(maxWaitMs); });

    const auto& labels = model_.GetLabels();
    setWindowTitle(Q(labels.caption));
    SetLabel(lblConnect_, labels.connectText);
    RefreshPortList();
    Refresh();
    LayOut();
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    btnStart_->setFocus();

    timerEraseWarn_.setSingleShot(true);
    timerEraseWarn_.setInterval(MainWindowModel::kEraseWarnDelayMs);
    connect(&timerEraseWarn_, &QTimer::timeout, this, [this] {
        timerEraseWarn_.stop();
        model_.EraseWarnTimerFired();
    });
    if (model_.EraseWarningDue())
        timerEraseWarn_.start();
}

MainWindow::~MainWindow()
{
    SetEventPump(nullptr);
    model_.FormClose();
}

void MainWindow::CreateControls()
{
    client_ = new QWidget(this);
    setCentralWidget(client_);

    image1_ = new QLabel(client_);
    image1_->setObjectName("Image1");
    image1_->setPixmap(QPixmap(":/kelobsl/product.png"));
    userText1_ = NewLabel(client_, "userText1", "This utility updates instrument firmware to", false);
    userText2_ = NewLabel(client_, "userText2", "Instrument x.yy", true);
    demoNotice_ = NewLabel(client_, "demoNotice", "", false);
    demoNotice_->hide();
    lblConnect_ = NewLabel(client_, "lblConnect", "Connect instrument to computer comm port.", true);

    panel1_ = new QWidget(client_);
    panel1_->setObjectName("Panel1");
    commLabel_ = NewLabel(panel1_, "commLabel", "Use computer comm port:", false);
    cbCommPort_ = new PortComboBox(panel1_, [this] {
        model_.PortListDropDown();
        RefreshPortList();
    });
    cbCommPort_->setObjectName("cbCommPort");
    cbCommPort_->setToolTip("Pick your comm port from this list.");
    QFont bold = cbCommPort_->font();
    bold.setBold(true);
    cbCommPort_->setFont(bold);
    connect(cbCommPort_, &QComboBox::activated, this, [this](int index) {
        model_.PortPicked(index);
        Refresh();
    });
    label1_ = NewLabel(panel1_, "Label1", "Status:", true);
    statusText_ = NewLabel(panel1_, "statusText", "", false);
    statusText_->hide();
    statusBar_ = new QProgressBar(panel1_);
    statusBar_->setObjectName("statusBar");
    statusBar_->setRange(0, 100);
    statusBar_->setValue(0);
    statusBar_->setTextVisible(false);
    newSN_ = NewLabel(panel1_, "newSN", "New Serial Number", false);
    newSN_->hide();
    newSNstr_ = new QLineEdit(panel1_);
    newSNstr_->setObjectName("newSNstr");
    newSNstr_->setMaxLength(MainWindowModel::kNewSerialMaxLength);
    newSNstr_->hide();
    connect(newSNstr_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.SetNewSerialNumber(text.toStdString()); });
    btnClose_ = new QPushButton("Close", panel1_);
    btnClose_->setObjectName("btnClose");
    connect(btnClose_, &QPushButton::clicked, this, [this] { CloseClicked(); });
    btnStart_ = new QPushButton("Start", panel1_);
    btnStart_->setObjectName("btnStart");
    connect(btnStart_, &QPushButton::clicked, this, [this] { StartClicked(); });

    // A main window has no default or cancel button of its own: Enter presses
    // whichever of the two is the default, Escape presses Close.
    auto pressDefault = [this] {
        QPushButton* button = btnStart_->isDefault() ? btnStart_ : btnClose_;
        if (button->isEnabled())
            button->click();
    };
    connect(new QShortcut(QKeySequence(Qt::Key_Return), this), &QShortcut::activated, this, pressDefault);
    connect(new QShortcut(QKeySequence(Qt::Key_Enter), this), &QShortcut::activated, this, pressDefault);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, [this] {
        if (btnClose_->isEnabled())
            btnClose_->click();
    });
    setTabOrder(btnStart_, cbCommPort_);
    setTabOrder(cbCommPort_, newSNstr_);
    setTabOrder(newSNstr_, btnClose_);

    timerStart_.setSingleShot(true);
    timerStart_.setInterval(MainWindowModel::kStartDelayMs);
    connect(&timerStart_, &QTimer::timeout, this, [this] { StartTimerFired(); });
}

void MainWindow::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    openFirmware_ = file->addAction("&Open Firmware File...", QKeySequence("Ctrl+O"), this,
                                    [this] { OpenFirmwareFileClicked(); });
    updateFirmware_ = file->addAction("&Update Firmware", QKeySequence("Ctrl+F"), this,
                                      [this] { UpdateFirmwareClicked(); });
    serialNumberList_ = file->addAction("Serial Numbers from &List...", this, [this] { SerialNumberListClicked(); });
    serialNumberList_->setCheckable(true);  // checked while a list is in use
    file->addSeparator();
    QAction* exit = file->addAction("&Exit", QKeySequence("Ctrl+Q"), this, [this] { ExitClicked(); });

    QMenu* settings = menuBar()->addMenu("&Settings");
    verboseLog_ = settings->addAction("&Verbose Error File", this, [this] {
        model_.ToggleVerboseLog();
        Refresh();
    });
    findAllComms_ = settings->addAction("Force Find All &Comm Ports", this, [this] {
        model_.ToggleFindAllComms();
        Refresh();
    });
    dontEraseData_ = settings->addAction("&Don't Erase Data", this, [this] {
        model_.ToggleDontEraseData();
        Refresh();
    });
    replaceSerialNumber_ = settings->addAction("&Replace Serial Number", this, [this] { ReplaceSerialNumberClicked(); });
    for (QAction* action : {verboseLog_, findAllComms_, dontEraseData_, replaceSerialNumber_})
        action->setCheckable(true);
    // Named as the controls are, so tests and tools can find them.
    openFirmware_->setObjectName("OpenFirmwareFile1");
    updateFirmware_->setObjectName("UpdateFirmware1");
    exit->setObjectName("Exit1");
    verboseLog_->setObjectName("VerboseErrorFile1");
    findAllComms_->setObjectName("ForceFindAllCommPorts1");
    dontEraseData_->setObjectName("DontEraseData1");
    replaceSerialNumber_->setObjectName("PromptforSerialNumber1");
    serialNumberList_->setObjectName("SerialNumbersFromList1");

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("&Help", QKeySequence(Qt::Key_F1), this, [this] { model_.ShowHelp(); });
    help->addSeparator();
    help->addAction("&About...", this, [this] { model_.ShowAbout(KELO_VERSION); });
}

void MainWindow::LayOut()
{
    // The layout is drawn for an 8-point font on a 96-DPI screen: 13-pixel
    // lines, characters about 5.5 pixels wide. Larger fonts scale it.
    const QFontMetrics metrics(font());
    scaleX_ = std::max(1.0, metrics.averageCharWidth() / 5.5);
    scaleY_ = std::max(1.0, metrics.height() / 13.0);
    auto X = [this](int x) { return static_cast<int>(x * scaleX_ + 0.5); };
    auto Y = [this](int y) { return static_cast<int>(y * scaleY_ + 0.5); };

    // Widen the window where a text needs more room than the scaled layout
    // gives it, including the longest texts an update shows.
    const auto& labels = model_.GetLabels();
    const std::string& device = model_.State().deviceName;
    QFont boldFont = font();
    boldFont.setBold(true);
    const QFontMetrics boldMetrics(boldFont);
    const int labelGap = X(4);
    const int statusX = std::max(X(56), X(12) + boldMetrics.horizontalAdvance(label1_->text()) + labelGap);
    int width = X(313);
    auto needs = [&](const QFontMetrics& m, int x, const std::string& text) {
        width = std::max(width, x + m.horizontalAdvance(Q(text)) + X(12));
    };
    needs(metrics, X(76), labels.userText1);
    needs(boldMetrics, X(76), labels.userText2);
    needs(metrics, X(76), labels.demoNotice);
    needs(metrics, X(12), labels.commLabel);
    for (const std::string& text : {labels.connectText, "Do NOT disconnect " + device + " until finished.",
                                    "You may disconnect your " + device + " now."})
        needs(boldMetrics, X(12), text);
    for (const std::string& text : {"Saving settings for this " + device + "...",
                                    "Restarting the " + device + ", please wait...",
                                    std::string("Successfully updated firmware in 9999 seconds.")})
        needs(metrics, statusX, text);

    auto place = [&](QWidget* widget, int x, int y, int w, int h) { widget->setGeometry(x, y, w, h); };
    const int line = metrics.height();
    place(image1_, X(16), Y(16), 48, 48);
    place(userText1_, X(76), Y(24), width - X(76), line);
    place(userText2_, X(76), Y(40), width - X(76), line);
    place(demoNotice_, X(76), Y(56), width - X(76), line);
    place(lblConnect_, X(12), Y(80), width - X(12), line);

    const int panelWidth = width - X(3);
    const int margin = X(12);
    const int inner = panelWidth - margin - X(10);
    place(panel1_, 0, Y(106), panelWidth, Y(153));
    place(commLabel_, margin, Y(8), inner, line);
    place(cbCommPort_, margin, Y(24), inner, std::max(Y(21), cbCommPort_->sizeHint().height()));
    place(label1_, margin, Y(64), statusX - margin, line);
    place(statusText_, statusX, Y(64), panelWidth - statusX, line);
    place(statusBar_, margin, Y(80), inner, Y(17));
    place(newSN_, margin, Y(104), inner, line);  // room for the list's name
    const int buttonW = std::max(X(75), btnStart_->sizeHint().width());
    const int buttonH = std::max(Y(25), btnStart_->sizeHint().height());
    const int editH = std::max(Y(21), newSNstr_->sizeHint().height());
    place(newSNstr_, margin, Y(120), std::max(X(93), newSNstr_->fontMetrics().horizontalAdvance("W") * 8), editH);
    place(btnStart_, margin + inner - buttonW, Y(120), buttonW, buttonH);
    place(btnClose_, margin + inner - 2 * buttonW - X(6), Y(120), buttonW, buttonH);

    const int height = std::max(Y(262), panel1_->y() + btnStart_->y() + buttonH + Y(8));
    client_->setFixedSize(width, height);
    setFixedSize(width, height + menuBar()->sizeHint().height());
}

void MainWindow::SetLabel(QLabel* label, const std::string& text)
{
    label->setText(Q(text));
}

void MainWindow::RefreshPortList()
{
    cbCommPort_->clear();
    for (const std::string& item : model_.PortItems())
        cbCommPort_->addItem(Q(item));
    cbCommPort_->setCurrentIndex(model_.SelectedPortItem());
}

void MainWindow::Refresh()
{
    const auto& labels = model_.GetLabels();
    SetLabel(userText1_, labels.userText1);
    SetLabel(userText2_, labels.userText2);
    SetLabel(demoNotice_, labels.demoNotice);
    demoNotice_->setVisible(!labels.demoNotice.empty());
    SetLabel(commLabel_, labels.commLabel);

    const auto& controls = model_.GetControls();
    btnStart_->setEnabled(controls.startEnabled);
    btnStart_->setDefault(controls.startIsDefault);
    btnClose_->setEnabled(controls.closeEnabled);
    btnClose_->setDefault(controls.closeIsDefault);
    cbCommPort_->setEnabled(controls.portListEnabled);
    newSN_->setVisible(controls.newSerialVisible);
    newSNstr_->setVisible(controls.newSerialVisible);
    // A long list name is shortened in the middle: its end says which list.
    newSN_->setText(newSN_->fontMetrics().elidedText(Q(labels.newSerialLabel), Qt::ElideMiddle, newSN_->width()));
    newSN_->setToolTip(Q(controls.newSerialHint));
    newSNstr_->setToolTip(Q(controls.newSerialHint));
    if (newSNstr_->isReadOnly() != controls.newSerialReadOnly) {
        // A read-only box takes the window's colour, so nobody tries to type in it.
        QPalette palette = QApplication::palette(newSNstr_);
        if (controls.newSerialReadOnly)
            palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        newSNstr_->setPalette(palette);
        newSNstr_->setReadOnly(controls.newSerialReadOnly);
    }
    if (controls.newSerialReadOnly)
        newSNstr_->setText(Q(model_.NewSerialNumber()));  // the list's next number
    else if (model_.NewSerialNumber().empty() && !newSNstr_->text().isEmpty())
        newSNstr_->clear();

    const auto menu = model_.GetMenu();
    openFirmware_->setEnabled(menu.openFirmwareEnabled);
    updateFirmware_->setEnabled(menu.updateFirmwareEnabled);
    verboseLog_->setChecked(menu.verboseChecked);
    findAllComms_->setChecked(menu.findAllChecked);
    dontEraseData_->setVisible(menu.dontEraseVisible);
    dontEraseData_->setChecked(menu.dontEraseChecked);
    replaceSerialNumber_->setVisible(menu.replaceSerialVisible);
    replaceSerialNumber_->setChecked(menu.replaceSerialChecked);
    serialNumberList_->setVisible(menu.serialListVisible);
    serialNumberList_->setEnabled(menu.serialListEnabled);
    serialNumberList_->setChecked(menu.serialListChecked);
}

void MainWindow::StartClicked()
{
    if (model_.StartClicked())
        timerStart_.start();
    Refresh();
}

void MainWindow::UpdateFirmwareClicked()
{
    if (model_.UpdateFirmwareClicked())
        timerStart_.start();
    Refresh();
}

void MainWindow::StartTimerFired()
{
    timerStart_.stop();
    model_.StartTimerFired();
    Refresh();
}

void MainWindow::CloseClicked()
{
    if (model_.CloseClicked()) {
        quitConfirmed_ = true;
        close();
    }
}

void MainWindow::ExitClicked()
{
    if (model_.ConfirmQuit()) {
        quitConfirmed_ = true;
        close();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The close box and Alt+F4 arrive here; an update in progress keeps the
    // window (and everything the update uses) alive.
    if (!quitConfirmed_ && !model_.ConfirmQuit()) {
        event->ignore();
        return;
    }
    SetEventPump(nullptr);
    model_.FormClose();
    event->accept();
}

void MainWindow::OpenFirmwareFileClicked()
{
    QFileDialog dialog(this, MainWindowModel::kOpenTitle, QDir::currentPath(),
                       "Firmware File (*.txt);;Any File (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("txt");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (model_.OpenFirmwareFile(dialog.selectedFiles().first().toStdString()) >= 0) {
        SetLabel(lblConnect_, model_.GetLabels().connectText);
        Refresh();
        LayOut();
    }
}

void MainWindow::ReplaceSerialNumberClicked()
{
    model_.ToggleReplaceSerialNumber();
    Refresh();
    if (newSNstr_->isVisible())
        newSNstr_->setFocus();
}

void MainWindow::SerialNumberListClicked()
{
    // A triggered checkable action toggles itself: the model says what holds.
    QFileDialog dialog(this, MainWindowModel::kSerialListTitle, QDir::currentPath(),
                       "Serial Number List (*.txt);;Any File (*)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        model_.UseSerialNumberList(dialog.selectedFiles().first().toStdString());
    Refresh();
}

void MainWindow::ShowStatus(const std::string& text)
{
    model_.StatusShown(text);
    SetLabel(statusText_, model_.StatusLine());
    statusText_->show();
    statusText_->repaint();
    QCoreApplication::processEvents();
}

void MainWindow::HideStatus()
{
    statusText_->hide();
}

void MainWindow::SetProgress(const Progress& progress)
{
    statusBar_->setValue(progress.percent);
    ShowTransfer(progress);
}

void MainWindow::ShowTransfer(const Progress& progress)
{
    if (model_.ProgressShown(progress))
        SetLabel(statusText_, model_.StatusLine());
}

void MainWindow::SetConnectText(const std::string& text)
{
    SetLabel(lblConnect_, text);
}

void MainWindow::SetBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    Refresh();
}

void MainWindow::ShowMessage(const std::string& text, const std::string& title, MessageKind kind)
{
    Beep(kind);
    QMessageBox box(IconFor(kind), Q(title), Q(text), QMessageBox::Ok, this);
    box.setObjectName("messageDialog");
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool MainWindow::AskOkCancel(const std::string& text, const std::string& title)
{
    Beep(MessageKind::Warning);
    QMessageBox box(QMessageBox::Warning, Q(title), Q(text), QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName("question");
    return box.exec() == QMessageBox::Ok;
}

int MainWindow::AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                                   const std::string& title)
{
    Beep(MessageKind::Warning);
    return AskInstrumentChoice(this, text, candidates, title);
}

void MainWindow::Beep(MessageKind)
{
    // One system bell serves every kind: the desktop has no per-kind sounds.
    QApplication::beep();
}

void MainWindow::PumpEvents()
{
    repaint();
    QCoreApplication::processEvents();
}

void MainWindow::Pump(uint32_t maxWaitMs)
{
    if (maxWaitMs == 0) {
        QCoreApplication::processEvents();
        return;
    }
    // Sleep in the event loop: any event ends the wait early, the timer ends
    // it at the latest after maxWaitMs. A local timer keeps nested pumps apart.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(maxWaitMs));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
