#pragma once

#include <string>

// Debug trace lines ("FWStrelvane - ..."). They are never shown to the user; when a
// trace file is set (the programs set one under the user's state folder) each entry is
// appended to it as one line with a time stamp, otherwise they are dropped. An entry's
// line end is added when its format has none, and its text is cleaned as a terminal
// view's is (Printable: no line break inside, no control or escape sequence). Safe from
// any thread and any number of processes. The file (readable by its owner only) and its
// folder are created on the first line; once it reaches kTraceRotateBytes it becomes
// "<file>.1", the older ones shift up, and at most kTraceKeptFiles of them stay. Writes
// and rotations of all processes take turns through the lock file "<file>.lock".
constexpr long kTraceRotateBytes = 4L << 20;
constexpr int kTraceKeptFiles = 3;

void SetTraceFile(const std::string& path);
std::string TraceFile();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The default place of the trace file: $XDG_STATE_HOME/strelvane/strelvane.log, or
// ~/.local/state/strelvane/strelvane.log.
std::string DefaultTraceFile();
