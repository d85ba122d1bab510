#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "registry/device_found_observer.h"
#include "upgrade/upgrade_manager_link.h"

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

// Records what the camera control hands to the upgrade manager; starts no job.
class RecordingUpgradeManager : public IUpgradeManager {
public:
    using Call = std::tuple<std::string, std::string, std::string, int>;

    std::string StartJob(const JobRequest& request) override {
        std::lock_guard lock(lock_);
        jobs_.push_back(request);
        return request.DeviceId;
    }
    void DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                         const std::string& host, int port) override {
        std::lock_guard lock(lock_);
        calls_.emplace_back(deviceId, scheme, host, port);
    }
    void DispatchBegins() override { ++dispatchesBegun_; }
    void DispatchEnds() override { ++dispatchesEnded_; }
    void SetBatchPolicy(const BatchPolicy& policy) override {
        std::lock_guard lock(lock_);
        policies_.push_back(policy);
    }

    std::vector<Call> Calls() {
        std::lock_guard lock(lock_);
        return calls_;
    }
    std::vector<JobRequest> Jobs() {
        std::lock_guard lock(lock_);
        return jobs_;
    }
    std::vector<BatchPolicy> Policies() {
        std::lock_guard lock(lock_);
        return policies_;
    }
    int DispatchesBegun() const { return dispatchesBegun_; }
    int DispatchesEnded() const { return dispatchesEnded_; }

private:
    std::mutex lock_;
    std::vector<Call> calls_;
    std::vector<JobRequest> jobs_;
    std::vector<BatchPolicy> policies_;
    std::atomic<int> dispatchesBegun_{0};
    std::atomic<int> dispatchesEnded_{0};
};
