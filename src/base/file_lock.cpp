#include "base/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <thread>

namespace {

int OpenLockFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool Lock(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

std::optional<CFileLock> CFileLock::Acquire(const std::string& lockPath) {
    const int fd = OpenLockFile(lockPath);
    if (fd < 0) return std::nullopt;
    if (!Lock(fd, LOCK_EX)) {
        ::close(fd);
        return std::nullopt;
    }
    return CFileLock(fd);
}

std::optional<CFileLock> CFileLock::TryAcquire(const std::string& lockPath,
                                               std::chrono::milliseconds wait) {
    const int fd = OpenLockFile(lockPath);
    if (fd < 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!Lock(fd, LOCK_EX | LOCK_NB)) {
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return CFileLock(fd);
}

bool CFileLock::IsHeld(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;  // never taken
    const bool held = !Lock(fd, LOCK_SH | LOCK_NB) && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

CFileLock::CFileLock(CFileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

CFileLock& CFileLock::operator=(CFileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

CFileLock::~CFileLock() {
    if (fd_ >= 0) ::close(fd_);
}
