// The per-user folder of the updater's files: logs, pending and archived
// settings, the update history.
#pragma once

#include <string>

// $XDG_DATA_HOME (or ~/.local/share) + /Tessaly/KeloBSL on Linux, the
// roaming application-data folder + \Tessaly\KeloBSL on Windows (the
// program's own folder when there is none). Empty when there is none.
std::string DefaultDataFolder();
