#pragma once

#include <functional>
#include <utility>

#include "device/registry_observer.h"

// An observer that follows only the devices found (the command-line search, the
// benchmark); every other notification is ignored. `found` runs on the reporting
// thread.
class DeviceFoundObserver final : public IRegistryObserver {
public:
    explicit DeviceFoundObserver(std::function<void(const CIPCamInfo&)> found)
        : found_(std::move(found)) {}

    void DeviceFound(const CIPCamInfo& record) override { found_(record); }
    void Reset() override {}
    void DeviceDispatched(const CIPCamInfo&) override {}
    void DeviceStatus(const std::string&, int, int, int, int) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

private:
    std::function<void(const CIPCamInfo&)> found_;
};
