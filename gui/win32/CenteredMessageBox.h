// MessageBoxW placed over the middle of its owner window. Windows centres a
// message box on the screen; the updater's messages belong over its window.
#pragma once

#include <windows.h>

#include <string>

// Moves window over the middle of over, kept whole on over's monitor.
void CentreWindowOver(HWND window, HWND over);

int CenteredMessageBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT type);
