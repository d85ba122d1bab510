#pragma once

#include <string>

// strelvane-cli firmware export DIR | import DIR: the store carried on a stick (see
// strelvane-cli firmware --help). `storage` is the resolved store folder.
int RunFirmwareTransfer(const std::string& action, const std::string& folder,
                        const std::string& storage);
