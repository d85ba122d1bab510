#include "app/cli/cli_commands.h"

#include <csignal>
#include <cstdio>

int BadArguments(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "strelvane-cli %s: %s (see strelvane-cli %s --help)\n", command.c_str(),
                 message.c_str(), command.c_str());
    return kExitBadArguments;
}

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signal) { g_stopSignal = signal; }

}  // namespace

void CatchStopSignals() {
    g_stopSignal = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return g_stopSignal != 0; }
