// Questions a test program asks another program's windows: texts, classes,
// controls by id, top-level windows of a process, a message box's text.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How long a question may wait for the window's thread to answer: it runs
// the update and answers only between its steps.
constexpr DWORD kAnswerTimeoutMs = 2000;

// UTF-16 to UTF-8.
std::string Narrow(const wchar_t* text);
// The window's text (WM_GETTEXT with a time-out); empty when it did not answer.
std::string TextOf(HWND window);
std::string ClassOf(HWND window);
// Newlines as "\n", so that a message is one line of the log.
std::string OneLine(const std::string& text);
// The descendant of parent with control id id, or null.
HWND FindControl(HWND parent, int id);
// The visible top-level windows of a process; className and caption
// (exact) narrow the choice when not null.
std::vector<HWND> TopLevelWindows(DWORD processId, const char* className, const char* caption);
// A message box's text: the static control that holds it, or every
// static's text when the dialog is one of the window's own.
std::string DialogText(HWND dialog);
