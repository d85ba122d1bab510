#include "app/cli/cli_commands.h"

#include <cstdio>

int BadArguments(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "strelvane-cli %s: %s (see strelvane-cli %s --help)\n", command.c_str(),
                 message.c_str(), command.c_str());
    return kExitBadArguments;
}
