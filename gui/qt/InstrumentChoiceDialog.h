// "Which Instrument?" in Qt Widgets: the question on top, the candidates and
// "None of these" in a list, OK and Cancel. Nothing is selected when it
// opens and OK stays disabled until the person picks a row; Cancel and
// Escape stop the update.
#pragma once

#include <string>
#include <vector>

#include "UpdateUi.h"

class QWidget;

// Shows the dialog over parent and returns the candidate's index,
// kNoneOfThese or kStopUpdate.
int AskInstrumentChoice(QWidget* parent, const std::string& text, const std::vector<SettingsCandidate>& candidates,
                        const std::string& title);
