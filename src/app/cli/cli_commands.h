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

// Reports a bad argument on stderr the same way for every command; returns 2.
int BadArguments(const std::string& command, const std::string& message);
