// An advisory lock on a file that is never deleted or renamed, so that two
// programs (or two threads of one) never work on the same settings file at
// once. flock on POSIX, LockFileEx on Windows: the lock goes with the
// process, even when it dies, and a reader may still read the file, which
// names the holder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on path, creating the file when it is missing, without
    // waiting: 1 taken (or already held by this object on that path), 0 held
    // by another holder, or the negated system error number.
    int TryLock(const std::string& path);
    // Replaces the file's text while the lock is held: who holds it.
    bool WriteHolder(const std::string& text);
    void Unlock();
    bool Held() const;
    const std::string& Path() const { return path_; }

    // This program's process number, for the holder's text.
    static long ProcessId();
    // The text a holder wrote into the lock file at path (empty when none).
    static std::string ReadHolder(const std::string& path);

private:
    static constexpr std::size_t kMaxHolderText = 1024;
    // A descriptor on POSIX, a HANDLE on Windows, whose failed opens are -1 too.
    static constexpr std::intptr_t kNotHeld = -1;

    std::string path_;
    std::intptr_t handle_ = kNotHeld;
};
