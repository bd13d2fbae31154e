// "Which Instrument?": what both windows list and how a pick becomes the
// answer. A device in its firmware loader cannot say who it is, so nothing
// is picked for the person: OK stays off until a row is chosen.
#pragma once

#include <string>
#include <vector>

#include "UpdateUi.h"

namespace instrument_choice {

constexpr const char* kNoneOfTheseRow = "None of these (update without its settings)";
constexpr int kNoSelection = -1;  // the row selected when the dialog opens

// "Serial number WN-00931, saved 2026-12-08 09:15, on /dev/ttyUSB0" (local time).
std::string CandidateLine(const SettingsCandidate& candidate);
// One row per candidate, in order, then the "None of these" row.
std::vector<std::string> Rows(const std::vector<SettingsCandidate>& candidates);
// Whether OK may be pressed with this row selected (kNoSelection: none).
bool CanAccept(int row, std::size_t candidateCount);
// The answer for OK with this row: the candidate's index, kNoneOfThese for
// the last row, kStopUpdate when no row is selected. Cancel is always
// kStopUpdate.
int Answer(int row, std::size_t candidateCount);

}  // namespace instrument_choice
