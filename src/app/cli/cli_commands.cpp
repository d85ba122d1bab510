#include "app/cli/cli_commands.h"

#include <atomic>
#include <csignal>

#include "app/cli/terminal.h"

int BadArguments(const std::string& command, const std::string& message) {
    PrintError("strelvane-cli " + command + ": " + message + " (see strelvane-cli " + command +
               " --help)");
    return kExitBadArguments;
}

namespace {

// The kernel may run the handler on any thread (often a worker), while the command's
// own thread polls: a lock-free atomic is both signal-safe and a proper cross-thread flag.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) { g_stopSignal.store(signal); }

}  // namespace

void CatchStopSignals() {
    g_stopSignal.store(0);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return g_stopSignal.load() != 0; }
