#pragma once

#include <string>
#include <vector>

// strelvane-cli upgrade [--file IMAGE] (--all | --device ID...) [--password P]
// [--interface NAME]... [--storage DIR] [--time-scale N]: searches, checks log-ins,
// upgrades and prints every progress report as a JSON line (see --help).
int RunUpgrade(const std::vector<std::string>& args);
