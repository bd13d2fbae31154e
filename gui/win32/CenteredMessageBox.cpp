#include "CenteredMessageBox.h"

void CentreWindowOver(HWND box, HWND over)
{
    RECT boxRect{};
    RECT overRect{};
    GetWindowRect(box, &boxRect);
    GetWindowRect(over, &overRect);
    const int width = boxRect.right - boxRect.left;
    const int height = boxRect.bottom - boxRect.top;
    int x = overRect.left + (overRect.right - overRect.left - width) / 2;
    int y = overRect.top + (overRect.bottom - overRect.top - height) / 2;
    // Whole on the owner's monitor, even when the window is near an edge.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(over, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& area = monitor.rcWork;
        if (x + width > area.right)
            x = area.right - width;
        if (y + height > area.bottom)
            y = area.bottom - height;
        if (x < area.left)
            x = area.left;
        if (y < area.top)
            y = area.top;
    }
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The box is not ours to create: a hook on this thread sees it activate
// and moves it once. One box at a time per thread, so one slot suffices.
thread_local HWND centreOver = nullptr;
thread_local HHOOK hook = nullptr;

LRESULT CALLBACK OnActivate(int code, WPARAM wParam, LPARAM lParam)
{
    const HHOOK self = hook;
    if (code == HCBT_ACTIVATE && centreOver) {
        CentreWindowOver(reinterpret_cast<HWND>(wParam), centreOver);
        centreOver = nullptr;
    }
    return CallNextHookEx(self, code, wParam, lParam);
}

// Installs the hook for one box and removes it however the box ends.
class ActivationHook {
public:
    explicit ActivationHook(HWND owner)
    {
        if (!owner || hook)
            return;
        centreOver = owner;
        hook = SetWindowsHookExW(WH_CBT, OnActivate, nullptr, GetCurrentThreadId());
        installed_ = hook != nullptr;
    }
    ~ActivationHook()
    {
        if (!installed_)
            return;
        UnhookWindowsHookEx(hook);
        hook = nullptr;
        centreOver = nullptr;
    }
    ActivationHook(const ActivationHook&) = delete;
    ActivationHook& operator=(const ActivationHook&) = delete;

private:
    bool installed_ = false;
};

}  // namespace

int CenteredMessageBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT type)
{
    const ActivationHook hookForThisBox(owner);
    return MessageBoxW(owner, text.c_str(), title.c_str(), type);
}
