#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "base/file_lock.h"

class CSettings;

// Where the firmware store lives and which server feeds it.
//
// The storage folder is the per-user `Storage` setting when it is set. Otherwise it is
// the machine's shared store, /var/lib/strelvane/NVR, when that folder exists and this
// user may write to it (an installation creates it for every user, as the public
// Documents folder serves every user on the desktop the program comes from); otherwise
// the user's own store, $XDG_DATA_HOME/strelvane/NVR (~/.local/share/strelvane/NVR),
// created when missing. A `Storage` folder is taken as it is and never created.

constexpr const char* kSharedStorageFolder = "/var/lib/strelvane/NVR";

// The folder used when `Storage` is not set (see above); creates the per-user folder.
std::string DefaultStorageFolder();

// `Storage`, else DefaultStorageFolder().
std::string ResolveStorageFolder(const CSettings& settings);

// The machine-wide `URL` (scheme, host, optional path) without trailing slashes; empty
// when not set: there is no built-in server.
std::string ResolveServerBase(const CSettings& settings);

// `url` without its trailing slashes.
std::string WithoutTrailingSlashes(std::string url);

// Makes sure `folder` can serve as the store folder: created when missing (with its
// parents). False, with `error` saying why, when it cannot be created or is not a folder.
bool PrepareStoreFolder(const std::string& folder, std::string& error);

// The store is changed (downloads, catalogue merges) by one process at a time: it holds
// the lock "<folder>/firmware.xml.lock" while it works. Inside a process the hold is
// shared, so that the downloads and the catalogue's check thread of one program do not
// shut each other out; it ends with its last holder. Another process waits up to `wait`
// for it; null when the store stayed busy.
constexpr std::chrono::seconds kStoreBusyWait{5};
std::shared_ptr<const CFileLock> LockStore(const std::string& folder,
                                           std::chrono::milliseconds wait = kStoreBusyWait);
