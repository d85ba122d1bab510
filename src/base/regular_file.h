#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Files the program reads or appends to are regular files, whatever a user or another
// program put at their place: a FIFO blocks whoever opens it until a writer comes, and a
// FIFO or a device feeds a reader without end.

// Opens `path` with the open(2) `flags` (and `mode` for a file it creates) when it is a
// regular file, or a link to one, without ever blocking on what is there. -1 otherwise,
// with errno set: as open(2) sets it, EISDIR for a folder, EINVAL for anything else that
// is not a regular file (a FIFO, a device, a socket).
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0);

// Why a file could not be opened or read, for a message: "not a regular file" for the
// EINVAL of OpenRegularFile, otherwise the C library's text for `error`.
std::string FileErrorText(int error);

// Writes all of `bytes` to `fd`, as many write(2) calls as it takes; false (errno set)
// when one fails, for example on a full disk.
bool WriteAll(int fd, std::string_view bytes);
