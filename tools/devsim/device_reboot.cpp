#include "device_reboot.h"

#include <chrono>

#include "event_log.h"

namespace {

// A port the device held may be in use for a moment after its servers stopped.
constexpr int kServeAttempts = 50;
constexpr auto kServeRetryPause = std::chrono::milliseconds(100);

std::string DeviceLine(const SimDevice& device, const std::string& event) {
    return "device id=" + device.Config().Id + " " + event;
}

}  // namespace

const std::vector<std::string>& DeviceRebootFaultNames() {
    // never_back: after an upgrade the device stays away.
    // reboot_address:ADDR: after an upgrade the device comes back serving on ADDR.
    // reboot_old_version: after an upgrade the device comes back with its old version.
    static const std::vector<std::string> names = {"never_back", "reboot_address",
                                                   "reboot_old_version"};
    return names;
}

DeviceReboot::DeviceReboot(SimDevice& device, std::function<bool(std::string&)> serve,
                           std::function<void()> halt)
    : device_(device), serve_(std::move(serve)), halt_(std::move(halt)) {}

DeviceReboot::~DeviceReboot() { Cancel(); }

void DeviceReboot::Request(const std::string& version) {
    std::lock_guard lock(mutex_);
    if (cancelled_ || restarting_) return;
    restarting_ = true;
    // The previous restart has ended: the device was back.
    if (thread_.joinable()) thread_.join();
    thread_ = std::jthread([this, version](std::stop_token stop) { Run(stop, version); });
}

void DeviceReboot::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void DeviceReboot::Run(std::stop_token stop, std::string version) {
    PrintEvent(DeviceLine(device_, "restarting"));
    if (!Wait(stop, device_.Config().RestartDelayMs)) return;
    device_.SetAway(true);
    PrintEvent(DeviceLine(device_, "away"));
    halt_();
    const int64_t awayMs =
        device_.HasFault("never_back") ? -1 : int64_t{device_.Config().RebootSeconds} * 1000;
    if (!Wait(stop, awayMs)) return;
    if (!version.empty() && !device_.HasFault("reboot_old_version"))
        device_.SetFirmwareVersion(version);
    if (device_.HasFault("reboot_address"))
        device_.SetAddress(device_.FaultValue("reboot_address"));
    device_.CountRestart();
    if (!ServeAgain(stop)) return;
    device_.SetAway(false);
    {
        std::lock_guard lock(mutex_);
        restarting_ = false;
    }
    PrintEvent(DeviceLine(device_, "back address=" + device_.Address() +
                                       " http_port=" + std::to_string(device_.HttpPort()) +
                                       " https_port=" + std::to_string(device_.HttpsPort()) +
                                       " firmware=" + device_.FirmwareVersion()));
}

bool DeviceReboot::Wait(std::stop_token stop, int64_t ms) {
    std::unique_lock lock(mutex_);
    auto never = [] { return false; };
    if (ms < 0) {
        wake_.wait(lock, stop, never);
    } else {
        wake_.wait_for(lock, stop, std::chrono::milliseconds(ms), never);
    }
    return !stop.stop_requested();
}

bool DeviceReboot::ServeAgain(std::stop_token stop) {
    std::string error;
    for (int attempt = 0; attempt < kServeAttempts && !stop.stop_requested(); ++attempt) {
        if (serve_(error)) return true;
        std::this_thread::sleep_for(kServeRetryPause);
    }
    PrintProblem(DeviceLine(device_, "cannot come back: " + error));
    return false;
}
