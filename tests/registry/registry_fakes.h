#pragma once

#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "registry/registry_observer.h"
#include "registry/upgrade_manager_link.h"

// Keeps every device-found notification; the other notifications do not occur here.
class RecordingObserver : public IRegistryObserver {
public:
    void DeviceFound(const CIPCamInfo& record) override {
        std::lock_guard lock(lock_);
        found_.push_back(record);
    }
    std::vector<CIPCamInfo> Found() {
        std::lock_guard lock(lock_);
        return found_;
    }
    void Reset() override {}
    void DeviceDispatched(const CIPCamInfo&) override {}
    void DeviceStatus(const std::string&, int, int, int, int) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

private:
    std::mutex lock_;
    std::vector<CIPCamInfo> found_;
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
