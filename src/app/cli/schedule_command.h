#pragma once

#include <string>
#include <vector>

// strelvane-cli schedule list|add|run: scheduled upgrades from the command line (see
// --help).
int RunScheduleCommand(const std::vector<std::string>& args);
