#include "MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <utility>

#include "CenteredMessageBox.h"
#include "ControlIds.h"
#include "InstrumentChoiceDialog.h"
#include "Timing.h"
#include "Utf16.h"

namespace {

constexpr UINT_PTR kEraseWarnTimer = 1;
constexpr UINT_PTR kStartTimer = 2;
// Posted after a DPI change, once the dialog has scaled its own font.
constexpr UINT kFontsChanged = WM_APP + 1;

struct KindStyle {
    UINT icon;
    UINT beep;
};

// The message dialog's icon and the system sound played before it, by kind.
KindStyle StyleFor(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning: return {MB_ICONWARNING, MB_ICONEXCLAMATION};
    case MessageKind::Error: return {MB_ICONERROR, MB_ICONHAND};
    case MessageKind::Information: return {MB_ICONINFORMATION, MB_ICONASTERISK};
    case MessageKind::Confirmation: return {MB_ICONQUESTION, MB_ICONQUESTION};
    case MessageKind::Plain: return {0, MB_ICONEXCLAMATION};
    }
    return {0, MB_ICONEXCLAMATION};
}

// Labels that run to the right edge and grow with the window.
constexpr int kStretched[] = {IDC_USERTEXT1, IDC_USERTEXT2, IDC_DEMONOTICE, IDC_CONNECT,   IDC_COMMLABEL,
                              IDC_COMMPORT,  IDC_STATUS,     IDC_PROGRESS,   IDC_NEWSN_LABEL};
constexpr int kBold[] = {IDC_USERTEXT2, IDC_CONNECT, IDC_COMMPORT, IDC_STATUSLABEL};

RECT ClientRectOf(HWND control, HWND parent)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int TextWidth(HDC dc, HFONT font, const std::string& text)
{
    const std::wstring wide = Widen(text);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    return size.cx;
}

// While an update runs, Windows asks before it shuts down or logs off and
// shows why: ending the program mid-write leaves an instrument without
// firmware, or without the settings that only this program still holds.
void BlockShutdown(HWND window, bool block)
{
    if (block)
        ShutdownBlockReasonCreate(window, L"A firmware update is running: shutting down now could leave the "
                                          L"instrument unusable or without its settings. Wait until it has finished.");
    else
        ShutdownBlockReasonDestroy(window);
}

}  // namespace

void MainWindow::OwnedFont::Reset(HFONT font)
{
    if (handle)
        DeleteObject(handle);
    handle = font;
}

void MainWindow::OwnedIcon::Reset(HICON icon)
{
    if (handle)
        DestroyIcon(handle);
    handle = icon;
}

MainWindow::MainWindow(HINSTANCE instance, std::vector<std::string> arguments)
    : instance_(instance), arguments_(std::move(arguments)), model_(preferences_, *this)
{
}

MainWindow::~MainWindow()
{
    if (window_)
        DestroyWindow(window_);
    SetEventPump(nullptr);
}

bool MainWindow::Create(int show)
{
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    accelerators_ = LoadAcceleratorsW(instance_, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    // The dialog resource names this class: the standard dialog procedure
    // under a name of our own.
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = DefDlgProcW;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance_;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"" KELOBSL_WINDOW_CLASS;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    if (!CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this))) {
        ShowMessage("The window could not be created (Windows error " + std::to_string(GetLastError()) + ").",
                    "KeloBSL", MessageKind::Error);
        return false;
    }
    SetUpControls();

    MainWindowModel::StartOptions options;
    options.arguments = arguments_;
    std::string error;
    if (!model_.FormShow(options, &error)) {
        ShowMessage(error, "KeloBSL", MessageKind::Error);
        return false;
    }
    SetEventPump([this](uint32_t maxWaitMs) { Pump(maxWaitMs); });

    const auto& labels = model_.GetLabels();
    SetWindowTextW(window_, Widen(labels.caption).c_str());
    SetText(IDC_CONNECT, labels.connectText);
    RefreshPortList();
    Refresh();
    FitTexts();
    CentreOnScreen();
    ShowWindow(window_, show);
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_START)), TRUE);
    if (model_.EraseWarningDue())
        SetTimer(window_, kEraseWarnTimer, MainWindowModel::kEraseWarnDelayMs, nullptr);
    return true;
}

int MainWindow::Run()
{
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        Dispatch(message);
    return static_cast<int>(message.wParam);
}

void MainWindow::Dispatch(MSG& message)
{
    if (window_ && accelerators_ && TranslateAcceleratorW(window_, accelerators_, &message))
        return;
    if (window_ && IsDialogMessageW(window_, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void MainWindow::Pump(uint32_t maxWaitMs)
{
    // Sleep until input arrives or the time is up, then handle what is queued.
    if (maxWaitMs > 0)
        MsgWaitForMultipleObjectsEx(0, nullptr, maxWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the main loop, which ends the program.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        Dispatch(message);
    }
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        reinterpret_cast<MainWindow*>(lParam)->window_ = window;
        return FALSE;  // focus is set once the window shows
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return FALSE;
    // An exception must not cross the system's code that called us: show it
    // and close the window, unless an update still runs further up the stack.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        MessageBoxW(window, Widen(e.what()).c_str(), L"KeloBSL", MB_OK | MB_ICONERROR);
        if (!self->model_.Updating())
            DestroyWindow(window);
        return TRUE;
    }
}

INT_PTR MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SYSCOMMAND:
        // The close box, Alt+F4 and the system menu's Close ask first.
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            Quit();
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        Quit();
        return TRUE;
    case WM_QUERYENDSESSION:
        // FALSE holds the shutdown or log-off at the reason given above.
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, busy_ || model_.Updating() ? FALSE : TRUE);
        return TRUE;
    case WM_SETCURSOR:
        if (busy_) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_DPICHANGED:
        PostMessageW(window_, kFontsChanged, 0, 0);
        return FALSE;  // the dialog scales itself
    case kFontsChanged:
        ApplyFonts();
        return TRUE;
    case WM_DESTROY:
        SetEventPump(nullptr);
        model_.FormClose();
        window_ = nullptr;
        PostQuitMessage(0);
        return TRUE;
    default:
        (void)lParam;
        return FALSE;
    }
}

void MainWindow::SetUpControls()
{
    ApplyFonts();
    SendMessageW(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    SendMessageW(Item(IDC_PROGRESS), PBM_SETSTEP, 2, 0);
    SendMessageW(Item(IDC_NEWSN), EM_SETLIMITTEXT, MainWindowModel::kNewSerialMaxLength, 0);

    const int big = GetSystemMetrics(SM_CXICON);
    const int small = GetSystemMetrics(SM_CXSMICON);
    SendMessageW(window_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_KELOBSL), IMAGE_ICON, big, big,
                                                     LR_SHARED)));
    SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_KELOBSL), IMAGE_ICON, small,
                                                     small, LR_SHARED)));

    // The hint on the port list.
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
    if (tip) {
        static wchar_t hint[] = L"Pick your comm port from this list.";
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_COMMPORT));
        tool.lpszText = hint;
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        // The serial number box's: its text follows the model (Refresh).
        tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_NEWSN));
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        newSerialTip_ = tip;
    }
}

void MainWindow::ApplyFonts()
{
    // The bold labels use the dialog's own font, made bold.
    auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (!dialogFont || !GetObjectW(dialogFont, sizeof(font), &font))
        return;
    font.lfWeight = FW_BOLD;
    boldFont_.Reset(CreateFontIndirectW(&font));
    for (int id : kBold)
        SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.handle), TRUE);

    // The product picture keeps its 48 pixels at 96 DPI, scaled with the screen.
    const int dpi = static_cast<int>(GetDpiForWindow(window_));
    const int side = MulDiv(48, dpi ? dpi : 96, 96);
    productIcon_.Reset(static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PRODUCT), IMAGE_ICON, side, side, LR_DEFAULTCOLOR)));
    HWND image = Item(IDC_IMAGE);
    const RECT at = ClientRectOf(image, window_);
    SetWindowPos(image, nullptr, at.left, at.top, side, side, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(image, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(productIcon_.handle));
}

void MainWindow::SetText(int id, const std::string& text)
{
    SetWindowTextW(Item(id), Widen(text).c_str());
}

void MainWindow::SetVisible(int id, bool visible)
{
    ShowWindow(Item(id), visible ? SW_SHOWNA : SW_HIDE);
}

void MainWindow::RefreshPortList()
{
    HWND list = Item(IDC_COMMPORT);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : model_.PortItems())
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(model_.SelectedPortItem()), 0);
}

void MainWindow::Refresh()
{
    refreshing_ = true;
    const auto& labels = model_.GetLabels();
    SetText(IDC_USERTEXT1, labels.userText1);
    SetText(IDC_USERTEXT2, labels.userText2);
    SetText(IDC_DEMONOTICE, labels.demoNotice);
    SetVisible(IDC_DEMONOTICE, !labels.demoNotice.empty());
    SetText(IDC_COMMLABEL, labels.commLabel);

    const auto& controls = model_.GetControls();
    EnableWindow(Item(IDC_START), controls.startEnabled);
    EnableWindow(Item(IDC_CLOSE), controls.closeEnabled);
    EnableWindow(Item(IDC_COMMPORT), controls.portListEnabled);
    const int defaultButton = controls.closeIsDefault ? IDC_CLOSE : IDC_START;
    SendMessageW(window_, DM_SETDEFID, defaultButton, 0);
    SendMessageW(Item(IDC_START), BM_SETSTYLE, defaultButton == IDC_START ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    SendMessageW(Item(IDC_CLOSE), BM_SETSTYLE, defaultButton == IDC_CLOSE ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    SetVisible(IDC_NEWSN_LABEL, controls.newSerialVisible);
    SetVisible(IDC_NEWSN, controls.newSerialVisible);
    SetText(IDC_NEWSN_LABEL, labels.newSerialLabel);
    if (controls.newSerialReadOnly != newSerialReadOnly_) {
        // A read-only edit box is drawn on the window's colour: nobody tries to type in it.
        SendMessageW(Item(IDC_NEWSN), EM_SETREADONLY, controls.newSerialReadOnly, 0);
        newSerialReadOnly_ = controls.newSerialReadOnly;
    }
    if (newSerialTip_) {
        const std::wstring hint = Widen(controls.newSerialHint);
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_NEWSN));
        tool.lpszText = const_cast<wchar_t*>(hint.c_str());
        SendMessageW(newSerialTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (controls.newSerialReadOnly)
        SetText(IDC_NEWSN, model_.NewSerialNumber());  // the list's next number
    else if (model_.NewSerialNumber().empty() && GetWindowTextLengthW(Item(IDC_NEWSN)) > 0)
        SetWindowTextW(Item(IDC_NEWSN), L"");
    // Keyboard focus on a control just disabled would leave the keys nowhere.
    HWND focus = GetFocus();
    if (focus && !IsWindowEnabled(focus) && IsChild(window_, focus))
        SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);

    const auto menu = model_.GetMenu();
    HMENU bar = GetMenu(window_);
    auto enable = [bar](UINT id, bool on) { EnableMenuItem(bar, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED)); };
    auto check = [bar](UINT id, bool on) { CheckMenuItem(bar, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED)); };
    enable(IDM_OPEN_FIRMWARE, menu.openFirmwareEnabled);
    enable(IDM_UPDATE_FIRMWARE, menu.updateFirmwareEnabled);
    check(IDM_VERBOSE_LOG, menu.verboseChecked);
    check(IDM_FIND_ALL_COMMS, menu.findAllChecked);
    if (menu.dontEraseVisible != dontEraseShown_ || menu.replaceSerialVisible != replaceSerialShown_)
        ShowFactoryItems(menu.dontEraseVisible, menu.replaceSerialVisible);
    check(IDM_DONT_ERASE_DATA, menu.dontEraseChecked);
    check(IDM_REPLACE_SERIAL, menu.replaceSerialChecked);
    if (menu.serialListVisible != serialListShown_) {
        // Before the separator and "Exit", which stay the File menu's last two.
        HMENU file = GetSubMenu(bar, 0);
        if (menu.serialListVisible)
            InsertMenuW(file, static_cast<UINT>(GetMenuItemCount(file) - 2), MF_BYPOSITION | MF_STRING, IDM_SERIAL_LIST,
                        L"Serial Numbers from &List...");
        else
            RemoveMenu(file, IDM_SERIAL_LIST, MF_BYCOMMAND);
        serialListShown_ = menu.serialListVisible;
    }
    enable(IDM_SERIAL_LIST, menu.serialListEnabled);
    check(IDM_SERIAL_LIST, menu.serialListChecked);
    refreshing_ = false;
}

void MainWindow::ShowFactoryItems(bool dontErase, bool replaceSerial)
{
    // A Win32 menu cannot hide an item: the two factory items are added at
    // the end of Settings when they show and removed when they do not.
    HMENU settings = GetSubMenu(GetMenu(window_), 1);
    RemoveMenu(settings, IDM_DONT_ERASE_DATA, MF_BYCOMMAND);
    RemoveMenu(settings, IDM_REPLACE_SERIAL, MF_BYCOMMAND);
    if (dontErase)
        AppendMenuW(settings, MF_STRING, IDM_DONT_ERASE_DATA, L"&Don't Erase Data");
    if (replaceSerial)
        AppendMenuW(settings, MF_STRING, IDM_REPLACE_SERIAL, L"&Replace Serial Number");
    dontEraseShown_ = dontErase;
    replaceSerialShown_ = replaceSerial;
}

void MainWindow::FitTexts()
{
    // The drawn layout has room for the start-up texts of short device names.
    // Widen the window where a text, including the longest an update shows,
    // needs more; the labels run to the right edge and the buttons follow it.
    const auto& labels = model_.GetLabels();
    const std::string& device = model_.State().deviceName;
    auto normalFont = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
    HFONT boldFont = boldFont_.handle ? boldFont_.handle : normalFont;
    RECT client{};
    GetClientRect(window_, &client);
    const RECT list = ClientRectOf(Item(IDC_COMMPORT), window_);
    const int margin = client.right - list.right;

    HDC dc = GetDC(window_);
    int width = client.right;
    auto needs = [&](int id, HFONT font, const std::string& text) {
        width = std::max(width, static_cast<int>(ClientRectOf(Item(id), window_).left) + TextWidth(dc, font, text) +
                                    margin);
    };
    needs(IDC_USERTEXT1, normalFont, labels.userText1);
    needs(IDC_USERTEXT2, boldFont, labels.userText2);
    needs(IDC_DEMONOTICE, normalFont, labels.demoNotice);
    needs(IDC_COMMLABEL, normalFont, labels.commLabel);
    for (const std::string& text : {labels.connectText, "Do NOT disconnect " + device + " until finished.",
                                    "You may disconnect your " + device + " now."})
        needs(IDC_CONNECT, boldFont, text);
    for (const std::string& text : {"Saving settings for this " + device + "...",
                                    "Restarting the " + device + ", please wait...",
                                    std::string("Successfully updated firmware in 9999 seconds.")})
        needs(IDC_STATUS, normalFont, text);
    ReleaseDC(window_, dc);

    const int extra = width - client.right;
    if (extra <= 0)
        return;
    widenedBy_ += extra;
    for (int id : kStretched) {
        const RECT at = ClientRectOf(Item(id), window_);
        SetWindowPos(Item(id), nullptr, 0, 0, at.right - at.left + extra, at.bottom - at.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (int id : {IDC_START, IDC_CLOSE}) {
        const RECT at = ClientRectOf(Item(id), window_);
        SetWindowPos(Item(id), nullptr, at.left + extra, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame{};
    GetWindowRect(window_, &frame);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left + extra, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::CentreOnScreen()
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    RECT frame{};
    GetWindowRect(window_, &frame);
    const RECT& area = monitor.rcWork;
    const int x = area.left + (area.right - area.left - (frame.right - frame.left)) / 2;
    const int y = area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2;
    SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::OnCommand(int id, int code)
{
    switch (id) {
    case IDOK:  // Enter: the default button
        (model_.GetControls().closeIsDefault ? PressClose() : PressStart());
        return;
    case IDCANCEL:  // Escape
    case IDC_CLOSE:
        PressClose();
        return;
    case IDC_START:
        PressStart();
        return;
    case IDC_COMMPORT:
        if (code == CBN_DROPDOWN) {
            model_.PortListDropDown();
            RefreshPortList();
        } else if (code == CBN_SELCHANGE) {
            const auto index = SendMessageW(Item(IDC_COMMPORT), CB_GETCURSEL, 0, 0);
            if (index != CB_ERR)
                model_.PortPicked(static_cast<int>(index));
            Refresh();
        }
        return;
    case IDC_NEWSN:
        if (code == EN_CHANGE && !refreshing_) {
            std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Item(IDC_NEWSN))) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(Item(IDC_NEWSN), text.data(),
                                                                static_cast<int>(text.size()))));
            model_.SetNewSerialNumber(Narrow(text));
        }
        return;
    case IDM_OPEN_FIRMWARE:
        if (model_.GetMenu().openFirmwareEnabled)
            OpenFirmwareFile();
        return;
    case IDM_UPDATE_FIRMWARE:
        if (model_.GetMenu().updateFirmwareEnabled && model_.UpdateFirmwareClicked())
            SetTimer(window_, kStartTimer, MainWindowModel::kStartDelayMs, nullptr);
        Refresh();
        return;
    case IDM_SERIAL_LIST:
        if (model_.GetMenu().serialListEnabled)
            ChooseSerialNumberList();
        return;
    case IDM_EXIT:
        Quit();
        return;
    case IDM_VERBOSE_LOG:
        model_.ToggleVerboseLog();
        Refresh();
        return;
    case IDM_FIND_ALL_COMMS:
        model_.ToggleFindAllComms();
        Refresh();
        return;
    case IDM_DONT_ERASE_DATA:
        model_.ToggleDontEraseData();
        Refresh();
        return;
    case IDM_REPLACE_SERIAL:
        model_.ToggleReplaceSerialNumber();
        Refresh();
        if (model_.GetControls().newSerialVisible)
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_NEWSN)), TRUE);
        return;
    case IDM_HELP:
        model_.ShowHelp();
        return;
    case IDM_ABOUT:
        model_.ShowAbout(FileVersion());
        return;
    default:
        return;
    }
}

void MainWindow::OnTimer(UINT_PTR timer)
{
    // Both timers fire once.
    KillTimer(window_, timer);
    if (timer == kEraseWarnTimer) {
        model_.EraseWarnTimerFired();
    } else if (timer == kStartTimer) {
        model_.StartTimerFired();
        if (window_)
            Refresh();
    }
}

void MainWindow::PressStart()
{
    if (!IsWindowEnabled(Item(IDC_START)))
        return;
    if (model_.StartClicked())
        SetTimer(window_, kStartTimer, MainWindowModel::kStartDelayMs, nullptr);
    Refresh();
}

void MainWindow::PressClose()
{
    if (IsWindowEnabled(Item(IDC_CLOSE)) && model_.CloseClicked())
        DestroyWindow(window_);
}

void MainWindow::Quit()
{
    // While an update runs this only shows "Don't Quit Now!".
    if (model_.ConfirmQuit())
        DestroyWindow(window_);
}

// The open dialog for a text file, starting in the current folder; false
// when the person cancels it.
static bool AskForTextFile(HWND owner, const char* title, const wchar_t* filter, std::string* chosen)
{
    wchar_t path[MAX_PATH] = L"";
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring caption = Widen(title);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = folder;
    dialog.lpstrTitle = caption.c_str();
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING |
                   OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog))
        return false;
    *chosen = Narrow(path);
    return true;
}

void MainWindow::OpenFirmwareFile()
{
    std::string path;
    if (!AskForTextFile(window_, MainWindowModel::kOpenTitle, L"Firmware File (*.txt)\0*.txt\0Any File (*.*)\0*.*\0",
                        &path))
        return;
    if (model_.OpenFirmwareFile(path) >= 0) {
        SetText(IDC_CONNECT, model_.GetLabels().connectText);
        Refresh();
        FitTexts();
    }
}

void MainWindow::ChooseSerialNumberList()
{
    std::string path;
    if (AskForTextFile(window_, MainWindowModel::kSerialListTitle,
                       L"Serial Number List (*.txt)\0*.txt\0Any File (*.*)\0*.*\0", &path))
        model_.UseSerialNumberList(path);
    Refresh();
}

std::string MainWindow::FileVersion() const
{
    // "FileVersion" of this program's version resource: nothing when there is
    // no resource, "Unknown" when the value is missing.
    wchar_t file[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, file, MAX_PATH))
        return "";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0)
        return "";
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(file, 0, size, block.data()))
        return "";
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void**>(&value),
                        &length) ||
        length == 0)
        return "Unknown";
    return Narrow(std::wstring(value, wcsnlen(value, length)));
}

void MainWindow::ShowStatus(const std::string& text)
{
    model_.StatusShown(text);
    SetText(IDC_STATUS, model_.StatusLine());
    SetVisible(IDC_STATUS, true);
    UpdateWindow(Item(IDC_STATUS));
    Pump(0);
}

void MainWindow::HideStatus()
{
    SetVisible(IDC_STATUS, false);
}

void MainWindow::SetProgress(const Progress& progress)
{
    SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(progress.percent), 0);
    ShowTransfer(progress);
}

void MainWindow::ShowTransfer(const Progress& progress)
{
    if (model_.ProgressShown(progress))
        SetText(IDC_STATUS, model_.StatusLine());
}

void MainWindow::SetConnectText(const std::string& text)
{
    SetText(IDC_CONNECT, text);
}

void MainWindow::SetBusy(bool busy)
{
    busy_ = busy;
    BlockShutdown(window_, busy);
    POINT cursor{};
    GetCursorPos(&cursor);
    // Takes effect now when the pointer is over the window; WM_SETCURSOR keeps it.
    if (WindowFromPoint(cursor) == window_ || IsChild(window_, WindowFromPoint(cursor)))
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
    Refresh();
}

void MainWindow::ShowMessage(const std::string& text, const std::string& title, MessageKind kind)
{
    Beep(kind);
    HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
    CenteredMessageBox(owner, Widen(text), Widen(title), MB_OK | MB_TOPMOST | StyleFor(kind).icon);
}

bool MainWindow::AskOkCancel(const std::string& text, const std::string& title)
{
    Beep(MessageKind::Warning);
    HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
    return CenteredMessageBox(owner, Widen(text), Widen(title), MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

int MainWindow::AskWhichInstrument(const std::string& text, const std::vector<SettingsCandidate>& candidates,
                                   const std::string& title)
{
    Beep(MessageKind::Warning);
    HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
    return AskInstrumentChoice(instance_, owner, text, candidates, title);
}

void MainWindow::Beep(MessageKind kind)
{
    MessageBeep(StyleFor(kind).beep);
}

void MainWindow::PumpEvents()
{
    if (window_)
        RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(0);
}
