#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

// Replaces `path` with `bytes` so that a crash or a full disk leaves either the old
// file or the new one, never a torn one: a temporary file in the same folder is
// written, flushed to disk and renamed over the target, then the folder is flushed.
// `mode` applies to the new file (for example 0600 for files holding passwords).
// Returns false, leaving the old file untouched, when any step fails.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0644);
