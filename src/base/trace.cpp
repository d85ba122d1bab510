#include "base/trace.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace {

std::mutex g_traceMutex;
std::string g_tracePath;

// Called under g_traceMutex. A full file moves to ".1", ".1" to ".2" and so on; the
// oldest goes. Another process may rotate at the same moment: each rename is atomic,
// so at worst a few lines land in the next file.
void RotateWhenFull(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_size < kTraceRotateBytes) return;
    for (int n = kTraceKeptFiles; n > 1; --n) {
        const std::string older = path + "." + std::to_string(n - 1);
        std::rename(older.c_str(), (path + "." + std::to_string(n)).c_str());
    }
    std::rename(path.c_str(), (path + ".1").c_str());
}

FILE* OpenForAppend(const std::string& path) {
    if (FILE* file = std::fopen(path.c_str(), "a")) return file;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    return std::fopen(path.c_str(), "a");
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
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);

    std::lock_guard lock(g_traceMutex);
    if (g_tracePath.empty()) return;
    RotateWhenFull(g_tracePath);
    FILE* file = OpenForAppend(g_tracePath);
    if (!file) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(file, "%s debug %s", stamp, line);
    std::fclose(file);
}

std::string DefaultTraceFile() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        return std::string(state) + "/strelvane/strelvane.log";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/state/strelvane/strelvane.log";
}
