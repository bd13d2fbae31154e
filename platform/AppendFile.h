// A file that only ever grows by whole lines: each line goes to the end in one
// write, however many programs append at once.
#pragma once

#include <string>

// Appends line, its line end included, to the file at path, creating it when it
// is missing. A last line without its line end (a writer that died
// mid-write) is ended first, so that the new line stands on its own. False
// with the reason in *error.
bool AppendLine(const std::string& path, const std::string& line, std::string* error);
