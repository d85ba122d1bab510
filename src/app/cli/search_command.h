#pragma once

#include <string>
#include <vector>

// strelvane-cli search [--interface NAME]...: one JSON line per device found, until
// the search ends.
int RunSearch(const std::vector<std::string>& args);
