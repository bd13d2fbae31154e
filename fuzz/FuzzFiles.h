// A scratch folder for the targets that read files by path: created once per
// process, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_files {

// The path of name inside the process's scratch folder.
std::string PathOf(const char* name);

// Writes data to path whole; aborts when it cannot (the run would mean nothing).
void WriteFile(const std::string& path, const uint8_t* data, std::size_t size);

}  // namespace fuzz_files
