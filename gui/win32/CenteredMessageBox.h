// MessageBoxW placed over the middle of its owner window. Windows centres a
// message box on the screen; the updater's messages belong over its window.
#pragma once

#include <windows.h>

#include <string>

int CenteredMessageBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT type);
