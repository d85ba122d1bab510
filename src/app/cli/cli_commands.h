#pragma once

#include <string>
#include <vector>

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

// One command of strelvane-cli: its arguments exclude the command name.
struct CliCommand {
    const char* Name;
    const char* Summary;
    int (*Run)(const std::vector<std::string>& args);
};

// SIGINT and SIGTERM from now on only note a stop request, so a command can end its
// work cleanly (workers stopped and joined, files saved) instead of dying mid-write.
void CatchStopSignals();
bool StopRequested();

// Reports a bad argument on stderr the same way for every command; returns 2.
int BadArguments(const std::string& command, const std::string& message);
