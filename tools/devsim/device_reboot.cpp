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
    static const std::vector<std::string> names = {"never_back", "reboot_address"};
    return names;
}

DeviceReboot::DeviceReboot(SimDevice& device, std::function<bool(std::string&)> serve,
                           std::function<void()> halt)
    : device_(device), serve_(std::move(serve)), halt_(std::move(halt)) {}

DeviceReboot::~DeviceReboot() { Cancel(); }

void DeviceReboot::Request(const std::string& version) {
    std::lock_guard lock(mutex_);
    if (cancelled_ || device_.IsAway()) return;
    device_.SetAway(true);
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
    PrintEvent(DeviceLine(device_, "away"));
    halt_();
    WaitAway(stop);
    if (stop.stop_requested()) return;
    if (!version.empty()) device_.SetFirmwareVersion(version);
    if (device_.HasFault("reboot_address"))
        device_.SetAddress(device_.FaultValue("reboot_address"));
    if (!ServeAgain(stop)) return;
    device_.SetAway(false);
    PrintEvent(DeviceLine(device_, "back address=" + device_.Address() +
                                       " http_port=" + std::to_string(device_.HttpPort()) +
                                       " https_port=" + std::to_string(device_.HttpsPort()) +
                                       " firmware=" + device_.FirmwareVersion()));
}

void DeviceReboot::WaitAway(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    auto never = [] { return false; };
    if (device_.HasFault("never_back")) {
        wake_.wait(lock, stop, never);
    } else {
        wake_.wait_for(lock, stop, std::chrono::seconds(device_.Config().RebootSeconds), never);
    }
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
