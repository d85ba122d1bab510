#pragma once

#include <string>

// Debug trace lines ("FWStrelvane - ..."). They are never shown to the user; when a
// trace file is set (the programs set one under the user's state folder) each line is
// appended to it with a time stamp, otherwise they are dropped. Safe from any thread.

void SetTraceFile(const std::string& path);
std::string TraceFile();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The default place of the trace file: $XDG_STATE_HOME/strelvane/strelvane.log, or
// ~/.local/state/strelvane/strelvane.log.
std::string DefaultTraceFile();
