#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

// Replaces `path` with `bytes` so that a crash or a full disk leaves either the old
// file or the new one, never a torn one: a temporary file in the same folder is
// written, flushed to disk and renamed over the target, then the folder is flushed.
// When `path` is a symbolic link the file it points to is replaced and the link stays.
// `mode` applies to the new file (for example 0600 for files holding passwords).
// Returns false, leaving the old file untouched and errno telling why, when any step
// fails.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Reads the whole regular file at `path`; false with errno telling why (EISDIR for a
// folder) when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// The file a save of `path` replaces: `path` itself, or the end of its chain of links.
std::string SaveTarget(const std::string& path);

// Removes the temporary files that saves of `path` left behind when their process was
// killed; the temporaries of saves still running in live processes are left alone.
void RemoveStaleTemporaries(const std::string& path);
