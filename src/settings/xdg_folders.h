#pragma once

#include <string>
#include <string_view>

// Where the desktop puts things for this user and for the machine (XDG base and user
// folders), and where this program itself lives. Read from the environment on each call.

// The user's home folder: $HOME, else the password database's entry.
std::string HomeFolder();

// $XDG_CONFIG_HOME when set to an absolute path, else ~/.config.
std::string ConfigHome();

// $XDG_STATE_HOME when set to an absolute path, else ~/.local/state: history and logs.
std::string StateHome();

// $XDG_CACHE_HOME when set to an absolute path, else ~/.cache.
std::string CacheHome();

// The user's Documents folder: XDG_DOCUMENTS_DIR from ConfigHome()/user-dirs.dirs, else
// ~/Documents. The folder may not exist yet.
std::string DocumentsFolder();

// The machine-wide configuration file `relative` (e.g. "strelvane/settings.conf"): the
// first one that exists under the folders of $XDG_CONFIG_DIRS (default /etc/xdg), else
// its path under the first of those folders.
std::string SystemConfigFile(std::string_view relative);

// True when something (file or folder) exists at `path`.
bool PathExists(const std::string& path);

// Reads the whole file at `path` as ReadFileBytes does (a regular file only, so that a
// FIFO or a device put there never blocks the program); false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// This program's full path, and its folder without a trailing slash.
std::string ProgramPath();
std::string ProgramFolder();
