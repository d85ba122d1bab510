#pragma once

#include <string>
#include <vector>

// strelvane-cli firmware check|download [SERIES...]|list: the firmware store from the
// command line (see --help).
int RunFirmwareCommand(const std::vector<std::string>& args);
