// The steps of DurableFile that each system does its own way; for
// DurableFile.cpp and the two files that implement them only.
#pragma once

#include <cstdint>
#include <cstdio>

namespace durable_file {

// The negated C error number; -EIO when the system gave none.
int32_t Negated(int error);

// Creates path, which must not exist yet, for binary writing: 1 and *file
// open, else the negated C error number and nothing left on the disk.
int32_t CreateNew(const char* path, std::FILE** file);

// Renames from to to; replace false: an existing to is never replaced
// (-EEXIST). 1, or the negated C error number.
int32_t MoveIntoPlace(const char* from, const char* to, bool replace);

}  // namespace durable_file
