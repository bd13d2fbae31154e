#include "InstrumentChoiceDialog.h"

#include <algorithm>

#include "CenteredMessageBox.h"
#include "ControlIds.h"
#include "InstrumentChoice.h"
#include "Utf16.h"

namespace {

constexpr int kRowsShown = 6;  // the list opens with room for this many rows

struct Choice {
    std::wstring text;
    std::wstring title;
    std::vector<std::wstring> rows;
    std::size_t candidates = 0;
    HWND owner = nullptr;
    int picked = instrument_choice::kNoSelection;
    SIZE minimum{};  // the smallest the frame may be dragged to
};

int SelectedRow(HWND dialog)
{
    const LRESULT row = SendDlgItemMessageW(dialog, IDC_WHICH_LIST, LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? instrument_choice::kNoSelection : static_cast<int>(row);
}

// Dialog units of this dialog's font in pixels.
int DialogX(HWND dialog, int units)
{
    RECT rect{0, 0, units, 0};
    MapDialogRect(dialog, &rect);
    return rect.right;
}

int DialogY(HWND dialog, int units)
{
    RECT rect{0, 0, 0, units};
    MapDialogRect(dialog, &rect);
    return rect.bottom;
}

// Height of the question wrapped to width pixels.
int TextHeight(HWND dialog, const std::wstring& text, int width)
{
    HWND label = GetDlgItem(dialog, IDC_WHICH_TEXT);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT rect{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    return rect.bottom;
}

int WidestRow(HWND dialog, const std::vector<std::wstring>& rows)
{
    HWND list = GetDlgItem(dialog, IDC_WHICH_LIST);
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::wstring& row : rows) {
        SIZE size{};
        GetTextExtentPoint32W(dc, row.c_str(), static_cast<int>(row.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    return widest;
}

struct Metrics {
    int margin, gap, icon, buttonW, buttonH;
};

Metrics MetricsOf(HWND dialog)
{
    return {DialogX(dialog, 7), DialogX(dialog, 4), GetSystemMetrics(SM_CXICON), DialogX(dialog, 50),
            DialogY(dialog, 14)};
}

// Places every control in a client area this wide and high; returns the
// list's top, which the first sizing needs.
int LayOut(HWND dialog, const Choice& choice, int width, int height)
{
    const Metrics m = MetricsOf(dialog);
    const int textX = m.margin + m.icon + m.gap * 2;
    const int textW = std::max(1, width - textX - m.margin);
    const int textH = std::max(m.icon, TextHeight(dialog, choice.text, textW));
    auto place = [dialog](int id, int x, int y, int w, int h) {
        SetWindowPos(GetDlgItem(dialog, id), nullptr, x, y, std::max(0, w), std::max(0, h),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(IDC_WHICH_ICON, m.margin, m.margin, m.icon, m.icon);
    place(IDC_WHICH_TEXT, textX, m.margin, textW, textH);
    const int listTop = m.margin + textH + m.gap * 2;
    const int buttonY = height - m.margin - m.buttonH;
    place(IDC_WHICH_LIST, m.margin, listTop, width - 2 * m.margin, buttonY - m.gap * 2 - listTop);
    place(IDCANCEL, width - m.margin - m.buttonW, buttonY, m.buttonW, m.buttonH);
    place(IDOK, width - m.margin - 2 * m.buttonW - m.gap, buttonY, m.buttonW, m.buttonH);
    InvalidateRect(dialog, nullptr, TRUE);
    return listTop;
}

// Opens wide enough for the longest row (a by-id port name runs past 100
// characters) as far as the screen allows, the list scrolling sideways
// beyond that, and tall enough for the question and a few rows.
void SizeToFit(HWND dialog, Choice& choice)
{
    HWND list = GetDlgItem(dialog, IDC_WHICH_LIST);
    const Metrics m = MetricsOf(dialog);
    const int widest = WidestRow(dialog, choice.rows);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(choice.owner ? choice.owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const int screenW = monitor.rcWork.right - monitor.rcWork.left;
    const int screenH = monitor.rcWork.bottom - monitor.rcWork.top;

    RECT client{};
    GetClientRect(dialog, &client);
    const int listChrome = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
    int width = std::max(static_cast<int>(client.right), widest + listChrome + 2 * m.margin);
    width = std::min(width, screenW * 9 / 10);

    const auto itemH = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    const int rowsShown = std::min(static_cast<int>(choice.rows.size()), kRowsShown);
    const int listH = itemH * rowsShown + 2 * GetSystemMetrics(SM_CYEDGE) + GetSystemMetrics(SM_CYHSCROLL) + 4;
    const int textH = std::max(m.icon, TextHeight(dialog, choice.text, width - 2 * m.margin - m.icon - 2 * m.gap));
    int height = m.margin + textH + 2 * m.gap + listH + 2 * m.gap + m.buttonH + m.margin;

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE));
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int frameW = frame.right - frame.left;
    const int frameH = std::min(static_cast<int>(frame.bottom - frame.top), screenH);
    SetWindowPos(dialog, nullptr, 0, 0, frameW, frameH, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Narrower than this the buttons would overlap; lower than the opening
    // height the list would show too little.
    choice.minimum = {std::min(frameW, 4 * m.buttonW + m.gap + 2 * m.margin + (frameW - width)), frameH};
    GetClientRect(dialog, &client);
    LayOut(dialog, choice, client.right, client.bottom);
}

INT_PTR CALLBACK ChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        auto* choice = reinterpret_cast<Choice*>(lParam);
        SetWindowTextW(dialog, choice->title.c_str());
        SetDlgItemTextW(dialog, IDC_WHICH_TEXT, choice->text.c_str());
        SendDlgItemMessageW(dialog, IDC_WHICH_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32515))), 0);  // IDI_WARNING
        HWND list = GetDlgItem(dialog, IDC_WHICH_LIST);
        for (const std::wstring& row : choice->rows)
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        SizeToFit(dialog, *choice);
        CentreWindowOver(dialog, choice->owner ? choice->owner : GetDesktopWindow());
        SetFocus(list);
        return FALSE;  // the focus is set
    }
    auto* choice = reinterpret_cast<Choice*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!choice)
        return FALSE;
    switch (message) {
    case WM_SIZE:
        LayOut(dialog, *choice, LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {choice->minimum.cx, choice->minimum.cy};
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        const bool canAccept = instrument_choice::CanAccept(SelectedRow(dialog), choice->candidates);
        if (id == IDC_WHICH_LIST && code == LBN_SELCHANGE) {
            EnableWindow(GetDlgItem(dialog, IDOK), canAccept);
        } else if ((id == IDC_WHICH_LIST && code == LBN_DBLCLK) || id == IDOK) {
            // Enter reaches here as IDOK even while OK is disabled.
            if (canAccept) {
                choice->picked = SelectedRow(dialog);
                EndDialog(dialog, IDOK);
            }
        } else if (id == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

int AskInstrumentChoice(HINSTANCE instance, HWND owner, const std::string& text,
                        const std::vector<SettingsCandidate>& candidates, const std::string& title)
{
    Choice choice;
    choice.text = Widen(text);
    choice.title = Widen(title);
    for (const std::string& row : instrument_choice::Rows(candidates))
        choice.rows.push_back(Widen(row));
    choice.candidates = candidates.size();
    choice.owner = owner;
    // A dialog that could not be made answers nothing: the update stops.
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WHICH_INSTRUMENT), owner, ChoiceProc,
                                           reinterpret_cast<LPARAM>(&choice));
    if (result != IDOK)
        return kStopUpdate;
    return instrument_choice::Answer(choice.picked, candidates.size());
}
