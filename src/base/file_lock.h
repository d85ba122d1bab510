#pragma once

#include <chrono>
#include <optional>
#include <string>

// An advisory lock (flock) on a lock file, shared by every process that agrees to take
// it; the lock file is created when missing and never removed, so all takers lock the
// same file. Held until the object goes (or the process ends, however it ends). Two
// holds in one process exclude each other as two processes do. Move-only.
class CFileLock {
public:
    // Waits as long as it takes; nothing when the lock file cannot be opened.
    static std::optional<CFileLock> Acquire(const std::string& lockPath);
    // Waits at most `wait` (polling); nothing when the lock stayed held or the file
    // cannot be opened.
    static std::optional<CFileLock> TryAcquire(const std::string& lockPath,
                                               std::chrono::milliseconds wait);
    // True when someone holds the lock at this moment.
    static bool IsHeld(const std::string& lockPath);

    CFileLock(CFileLock&& other) noexcept;
    CFileLock& operator=(CFileLock&& other) noexcept;
    ~CFileLock();

private:
    explicit CFileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};
