#pragma once

#include <string>
#include <vector>

// strelvane-cli inventory: what runs where on the site (see --help).
int RunInventory(const std::vector<std::string>& args);
