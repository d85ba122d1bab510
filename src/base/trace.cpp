#include "base/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>

#include "base/file_lock.h"
#include "base/regular_file.h"
#include "base/terminal_text.h"

namespace {

// A line longer than this is cut (a device may send a name of any length).
constexpr size_t kTraceLineBytes = 4096;

std::mutex g_traceMutex;
std::string g_tracePath;

// Called with the rotation lock held, so that no other process rotates at the same
// moment: a full file moves to ".1", ".1" to ".2" and so on; the oldest goes.
void RotateWhenFull(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size < kTraceRotateBytes) return;
    for (int n = kTraceKeptFiles; n > 1; --n) {
        const std::string older = path + "." + std::to_string(n - 1);
        std::rename(older.c_str(), (path + "." + std::to_string(n)).c_str());
    }
    std::rename(path.c_str(), (path + ".1").c_str());
}

// The entry as one line: its own line end (the formats may or may not end in one), no
// line break inside, and nothing that a terminal showing the log would act upon.
std::string TraceEntry(std::string_view message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.remove_suffix(1);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(stamp) + " debug " + Printable(message) + "\n";
}

// Appends `entry` under the lock every process of this user takes around a rotation and
// a write: a rotation then never renames a file another process is about to write, and
// never runs twice for one full file. The file holds device names and addresses: it is
// its owner's alone.
void WriteEntry(const std::string& path, const std::string& entry) {
    std::optional<CFileLock> lock = CFileLock::Acquire(path + ".lock");
    if (!lock) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        lock = CFileLock::Acquire(path + ".lock");
        if (!lock) return;
    }
    RotateWhenFull(path);
    const int fd = OpenRegularFile(path, O_RDWR | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return;
    struct stat st {};
    std::string text = entry;
    if (::fstat(fd, &st) == 0) {
        if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);  // made by an older version
        // A line cut short by a full disk must not take the next one into it.
        char last = '\n';
        if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
            text.insert(text.begin(), '\n');
        }
    }
    WriteAll(fd, text);
    ::close(fd);
}

}  // namespace

void SetTraceFile(const std::string& path) {
    std::lock_guard lock(g_traceMutex);
    g_tracePath = path;
}

std::string TraceFile() {
    std::lock_guard lock(g_traceMutex);
    return g_tracePath;
}

void Trace(const char* format, ...) {
    char line[kTraceLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);

    std::lock_guard lock(g_traceMutex);
    if (g_tracePath.empty()) return;
    WriteEntry(g_tracePath, TraceEntry(line));
}

std::string DefaultTraceFile() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        return std::string(state) + "/strelvane/strelvane.log";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/state/strelvane/strelvane.log";
}
