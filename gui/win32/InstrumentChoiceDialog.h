// "Which Instrument?" as a native dialog (template IDD_WHICH_INSTRUMENT in
// InstrumentChoice.rc): the question on top, the candidates and "None of
// these" in a list, OK and Cancel. Nothing is selected when it opens and OK
// stays disabled until the person picks a row; Cancel and Escape stop the
// update. It can be resized, and opens wide enough for long port names.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "UpdateUi.h"

// Shows the dialog centred over owner (the screen when null) and returns the
// candidate's index, kNoneOfThese or kStopUpdate. instance holds the template.
int AskInstrumentChoice(HINSTANCE instance, HWND owner, const std::string& text,
                        const std::vector<SettingsCandidate>& candidates, const std::string& title);
