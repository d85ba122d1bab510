#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "sim_device.h"

// A device's restart after it took an image: it goes on answering for its
// restart_delay_ms (writing its flash), then goes away (its web servers stop, and
// SimDevice::IsAway tells discovery to fall silent) for its reboot_seconds, then comes
// back running the new firmware. Faults keep it away for good (never_back), bring it
// back at another address (reboot_address:ADDR) or with the version it ran before
// (reboot_old_version); they combine. Prints "device id=ID restarting", "device id=ID
// away" and "device id=ID back address=A http_port=P https_port=Q firmware=V".
class DeviceReboot {
public:
    // `serve` starts the device's servers on its current address and ports (false with
    // a message when it cannot); `halt` stops them.
    DeviceReboot(SimDevice& device, std::function<bool(std::string& error)> serve,
                 std::function<void()> halt);
    ~DeviceReboot();
    DeviceReboot(const DeviceReboot&) = delete;
    DeviceReboot& operator=(const DeviceReboot&) = delete;

    // Restarts the device into `version` (empty: the version it runs). Called from a
    // request handler: returns at once, the servers stop once the handler has answered.
    // A device already restarting ignores it.
    void Request(const std::string& version);

    // Ends a restart in progress where it stands and refuses later ones (devsim is
    // stopping).
    void Cancel();

private:
    void Run(std::stop_token stop, std::string version);
    bool ServeAgain(std::stop_token stop);
    // Waits `ms` (negative: until stopped); false when stopped.
    bool Wait(std::stop_token stop, int64_t ms);

    SimDevice& device_;
    std::function<bool(std::string&)> serve_;
    std::function<void()> halt_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    bool cancelled_ = false;
    bool restarting_ = false;  // from Request until the device is back
    std::jthread thread_;
};

// Device fault names the reboot understands.
const std::vector<std::string>& DeviceRebootFaultNames();
