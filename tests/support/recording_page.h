#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/registry_observer.h"
#include "support/wait_until.h"

// An observer page that keeps every notification, in order: as a short text
// ("RunBegins", "Busy 1", "Dispatched ID", "Status ID STAGE CODE", "RunEnds") and, for
// the status reports, as records. Safe to call from any thread.
class RecordingPage final : public IRegistryObserver {
public:
    struct Status {
        std::string DeviceId;
        int Stage = 0;
        int Seconds = 0;
        int Percent = 0;
        int Code = 0;
        std::string FirmwareVersion;               // with a final report
        std::chrono::steady_clock::time_point At;  // when it came
        int64_t WindowEnd = 0;                     // with a final report
    };

    void Reset() override { Add("Reset"); }
    void DeviceFound(const CIPCamInfo& record) override { Add("Found " + record.DeviceId); }
    void DeviceDispatched(const CIPCamInfo& record) override {
        Add("Dispatched " + record.DeviceId);
    }
    void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                      int code) override {
        std::lock_guard lock(lock_);
        statuses_.push_back(
            {deviceId, stage, seconds, percent, code, {}, std::chrono::steady_clock::now()});
        events_.push_back("Status " + deviceId + " " + std::to_string(stage) + " " +
                          std::to_string(code));
    }
    void DeviceFinished(const UpgradeReport& r) override {
        DeviceStatus(r.DeviceId, r.Stage, r.Seconds, r.Percent, r.Code);
        std::lock_guard lock(lock_);
        statuses_.back().FirmwareVersion = r.FirmwareVersion;
        statuses_.back().WindowEnd = r.WindowEnd;
    }
    void DeviceListFull() override { Add("ListFull"); }
    void Busy(bool busy) override { Add(busy ? "Busy 1" : "Busy 0"); }
    void RunBegins() override { Add("RunBegins"); }
    void RunEnds() override { Add("RunEnds"); }
    void RefreshTexts() override { Add("RefreshTexts"); }

    std::vector<std::string> Events() const {
        std::lock_guard lock(lock_);
        return events_;
    }
    int Count(const std::string& event) const {
        std::lock_guard lock(lock_);
        return static_cast<int>(std::count(events_.begin(), events_.end(), event));
    }
    std::vector<Status> StatusesOf(const std::string& deviceId) const {
        std::lock_guard lock(lock_);
        std::vector<Status> of;
        for (const Status& s : statuses_)
            if (s.DeviceId == deviceId) of.push_back(s);
        return of;
    }
    // How many final reports (stage 32) the device got.
    int Finals(const std::string& deviceId) const {
        int finals = 0;
        for (const Status& s : StatusesOf(deviceId)) finals += s.Stage == 32;
        return finals;
    }
    bool WaitFor(const std::string& event, std::chrono::milliseconds limit) const {
        return WaitUntil([&] { return Count(event) > 0; }, limit);
    }

private:
    void Add(std::string event) {
        std::lock_guard lock(lock_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex lock_;
    std::vector<std::string> events_;
    std::vector<Status> statuses_;
};
