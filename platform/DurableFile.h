// DurableFile: writes a file so that after a crash or a power loss the disk
// holds either what was there before or the whole new file, never a part of
// it, and a write that fails leaves nothing behind. The bytes go to a
// temporary name in the final file's folder, are flushed to the disk, the
// temporary file is renamed to the final name and the folder is flushed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class DurableFile {
public:
    // Longest path taken; longer ones are refused with -ENAMETOOLONG.
    static constexpr std::size_t kMaxPath = 4096;

    DurableFile() = default;
    // Removes the temporary file when it was not committed.
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    // Creates a new temporary file beside path (same folder) for binary
    // writing. 1, or the negated C error number.
    int32_t Open(const char* path);
    // The open temporary file; null before Open or after Commit/Discard.
    std::FILE* File() const { return file_; }
    // Flushes the temporary file to the disk and renames it to finalPath,
    // which must lie in the folder of the path given to Open; then flushes
    // the folder. replace false: an existing finalPath is never replaced:
    // -EEXIST, and the temporary file stays open for another name. Any other
    // failure removes the temporary file. 1 committed, else the negated C
    // error number (-ENOSPC for a full disk).
    int32_t Commit(const char* finalPath, bool replace);
    // Closes and removes the temporary file.
    void Discard();

    // Words for a negative result, to follow "could not write FILE: ".
    static const char* ErrorText(int32_t code);

private:
    int32_t Flush();

    std::FILE* file_ = nullptr;
    bool flushed_ = false;  // the bytes are on the disk and the file is closed
    char tempPath_[kMaxPath + 32] = {};
};

// The steps DurableFile takes, for files written another way: the stream's
// buffer and the system's cache go to the disk (the file stays open), and
// the folder that holds path is flushed so that a rename into it survives a
// power loss (Windows needs nothing there: renames are written through). 1,
// or the negated C error number.
int32_t FlushFileToDisk(std::FILE* file);
int32_t FlushFolderOf(const char* path);
