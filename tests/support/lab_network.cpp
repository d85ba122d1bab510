#include "support/lab_network.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/child_process.h"

namespace {

using namespace std::chrono_literals;

const std::string kLabScript = std::string(STRELVANE_SOURCE_DIR) + "/scripts/lab";

}  // namespace

std::string LabNetwork::Unavailable() {
    if (::geteuid() != 0) return "lab tests need root to build network namespaces (ctest -LE lab)";
    if (::access("/usr/sbin/ip", X_OK) != 0 && ::access("/sbin/ip", X_OK) != 0 &&
        ::access("/usr/bin/ip", X_OK) != 0) {
        return "lab tests need the ip command (iproute2)";
    }
    return {};
}

LabNetwork::LabNetwork(Options options) {
    // slab<pid>-<n>: scripts/lab removes it by itself once this process has ended, even
    // when a crash skipped the destructor.
    static std::atomic<int> counter{0};
    name_ = "slab" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    ProcessResult made =
        RunProcess({kLabScript, "up", name_, "--adapters", std::to_string(options.Adapters),
                    "--devices", std::to_string(options.Devices)},
                   30s);
    if (made.ExitCode != 0) throw std::runtime_error("scripts/lab up " + name_ + " failed");
}

LabNetwork::~LabNetwork() { RunProcess({kLabScript, "down", name_}, 30s); }

ScopedNetns::ScopedNetns(const std::string& name) {
    original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = original_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    const int error = errno;
    if (target >= 0) ::close(target);
    if (!entered) {
        if (original_ >= 0) ::close(original_);
        throw std::runtime_error("cannot enter network namespace " + name + ": " +
                                 std::strerror(error));
    }
}

ScopedNetns::~ScopedNetns() {
    ::setns(original_, CLONE_NEWNET);
    ::close(original_);
}
