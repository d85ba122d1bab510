#pragma once

#include <string>

// Debug trace lines ("FWStrelvane - ..."). They are never shown to the user; when a
// trace file is set (the programs set one under the user's state folder) each line is
// appended to it with a time stamp, otherwise they are dropped. Safe from any thread.
// The file (and its folder) is created on the first line; once it reaches
// kTraceRotateBytes it becomes "<file>.1", the older ones shift up, and at most
// kTraceKeptFiles of them stay.
constexpr long kTraceRotateBytes = 4L << 20;
constexpr int kTraceKeptFiles = 3;

void SetTraceFile(const std::string& path);
std::string TraceFile();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The default place of the trace file: $XDG_STATE_HOME/strelvane/strelvane.log, or
// ~/.local/state/strelvane/strelvane.log.
std::string DefaultTraceFile();
