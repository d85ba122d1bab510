#include "base/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/regular_file.h"

namespace {

// Temporaries are "<name>.tmp.<pid>.<6 random characters>", so a later start can tell a
// dead save's leftover from a running one's.
constexpr std::string_view kTempMark = ".tmp.";

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return false;
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

std::string SaveTarget(const std::string& path) {
    std::string target = path;
    // A bounded walk: a loop of links ends at the link where it was given up.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        std::error_code error;
        const std::filesystem::path link = std::filesystem::read_symlink(target, error);
        if (error) return target;
        target = link.is_absolute() ? link.string()
                                    : (std::filesystem::path(FolderOf(target)) / link).string();
    }
    return target;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
    const std::string target = SaveTarget(path);
    std::string temp = target + std::string(kTempMark) + std::to_string(::getpid()) + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void RemoveStaleTemporaries(const std::string& path) {
    const std::filesystem::path target(SaveTarget(path));
    const std::string prefix = target.filename().string() + std::string(kTempMark);
    std::error_code error;
    std::filesystem::directory_iterator it(
        target.parent_path().empty() ? "." : target.parent_path(), error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 7 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());  // "<pid>.XXXXXX"
        const size_t dot = rest.find('.');
        if (dot == std::string::npos || rest.size() - dot - 1 != 6) continue;
        char* end = nullptr;
        const long pid = std::strtol(rest.c_str(), &end, 10);
        if (end != rest.c_str() + dot || ProcessAlive(static_cast<pid_t>(pid))) continue;
        ::unlink(it->path().c_str());
    }
}
