// What the update command makes of one update: its exit code, the cause in
// words, the JSON start event; shared by the one-port and the several-port run.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "AppSetup.h"
#include "AppState.h"
#include "Commands.h"
#include "UpdateUi.h"
#include "UpdateWorkflow.h"

int ExitCodeFor(int result, const UpdateWorkflow& workflow, bool keepGoing, bool conflictUnanswered);
const char* StepName(UpdateStep step);
// The summary's cause of a failure, as whole sentences with the code.
std::string FailureCause(const UpdateWorkflow& workflow, int result, const AppState& state, const UpdateArgs& args);
// The cause when "Settings Retrieve Error" for a device that named settings
// was left unanswered.
std::string SettingsRetrieveUnanswered(const AppState& state);
// Whether the failure left the device waiting in its firmware loader.
bool LeftInLoader(const UpdateWorkflow& workflow);

// Why the update cannot start (bad serial number, data folder, demonstration
// image without --demo-image), or empty.
std::string UpdateChecksProblem(const UpdateArgs& args);
// The start-up options an update's arguments ask for; fileTag names the port
// in the file names of a several-port run (empty: today's names).
SetupOptions SetupFor(const UpdateArgs& args, const std::string& fileTag = "");
// The answer --settings-from gives to "Settings Conflict" (Stop when absent),
// and its word for the JSON question event.
SettingsChoice SettingsChoiceFrom(const std::string& settingsFrom);
const char* SettingsChoiceWord(SettingsChoice choice);
std::string ImageLabel(const AppState& state, const UpdateArgs& args);
bool ErasesData(const AppState& state, const UpdateArgs& args);
nlohmann::json StartEvent(const AppState& state, const UpdateWorkflow& workflow, const UpdateArgs& args,
                          bool imageReady);

// The last part of a path: the file's name.
std::string BaseName(const std::string& path);
// A value as it can be pasted into a command line.
std::string Quoted(const std::string& value);
