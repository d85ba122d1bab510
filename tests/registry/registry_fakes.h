#pragma once

#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "registry/device_found_observer.h"
#include "registry/upgrade_manager_link.h"

// Keeps every device-found notification.
class RecordingObserver {
public:
    std::vector<CIPCamInfo> Found() {
        std::lock_guard lock(lock_);
        return found_;
    }
    IRegistryObserver& Observer() { return observer_; }

private:
    std::mutex lock_;
    std::vector<CIPCamInfo> found_;
    DeviceFoundObserver observer_{[this](const CIPCamInfo& record) {
        std::lock_guard lock(lock_);
        found_.push_back(record);
    }};
};

class RecordingUpgradeManager : public IUpgradeManager {
public:
    using Call = std::tuple<std::string, std::string, std::string, int>;
    void DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                         const std::string& host, int port) override {
        std::lock_guard lock(lock_);
        calls_.emplace_back(deviceId, scheme, host, port);
    }
    std::vector<Call> Calls() {
        std::lock_guard lock(lock_);
        return calls_;
    }

private:
    std::mutex lock_;
    std::vector<Call> calls_;
};
