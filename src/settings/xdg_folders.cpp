#include "settings/xdg_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

#include "base/atomic_file.h"
#include "base/text.h"

namespace {

std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value && value[0] == '/') ? std::string(value) : std::string();
}

// The value of one `XDG_..._DIR="..."` line of user-dirs.dirs, in the shell quoting
// that xdg-user-dirs writes: "$HOME/sub" or an absolute path, with \ escapes.
bool ParseUserDirValue(std::string_view quoted, const std::string& home, std::string& path) {
    if (quoted.size() < 2 || quoted.front() != '"') return false;
    std::string value;
    size_t i = 1;
    for (; i < quoted.size() && quoted[i] != '"'; ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
        value += quoted[i];
    }
    if (i == quoted.size()) return false;  // no closing quote
    if (value == "$HOME" || StartsWith(value, "$HOME/")) {
        path = home + value.substr(5);
        return true;
    }
    if (StartsWith(value, "/")) {
        path = value;
        return true;
    }
    return false;
}

}  // namespace

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    return ReadFileBytes(path, bytes);
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string ConfigHome() {
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    return config.empty() ? HomeFolder() + "/.config" : config;
}

std::string StateHome() {
    std::string state = AbsoluteEnv("XDG_STATE_HOME");
    return state.empty() ? HomeFolder() + "/.local/state" : state;
}

std::string CacheHome() {
    std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
    return cache.empty() ? HomeFolder() + "/.cache" : cache;
}

std::string DocumentsFolder() {
    const std::string home = HomeFolder();
    std::string documents = home + "/Documents";
    std::string bytes;
    if (!ReadFileBytes(ConfigHome() + "/user-dirs.dirs", bytes)) return documents;
    const std::string_view key = "XDG_DOCUMENTS_DIR=";
    // The file is sourced by a shell, so the last assignment wins.
    for (const std::string& line : SplitAny(bytes, "\n")) {
        std::string trimmed = Trim(line);
        if (!StartsWith(trimmed, key)) continue;
        std::string path;
        if (ParseUserDirValue(std::string_view(trimmed).substr(key.size()), home, path)) {
            documents = path;
        }
    }
    return documents;
}

std::string SystemConfigFile(std::string_view relative) {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string first;
    for (const std::string& dir : SplitAny(dirs && *dirs ? dirs : "/etc/xdg", ":")) {
        if (dir.front() != '/') continue;  // relative entries are invalid
        std::string path = dir + "/" + std::string(relative);
        if (PathExists(path)) return path;
        if (first.empty()) first = path;
    }
    return first.empty() ? "/etc/xdg/" + std::string(relative) : first;
}

std::string ProgramPath() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
    path.resize(static_cast<size_t>(n));
    return path;
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
