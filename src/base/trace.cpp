#include "base/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

std::mutex g_traceMutex;
std::string g_tracePath;

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
    FILE* file = std::fopen(g_tracePath.c_str(), "a");
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
