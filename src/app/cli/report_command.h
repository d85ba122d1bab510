#pragma once

#include <string>
#include <vector>

// strelvane-cli report [--since DATE] [--until DATE] [--format csv|html] [--history FILE]
int RunReport(const std::vector<std::string>& args);
