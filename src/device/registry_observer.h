#pragma once

#include <string>

#include "device/ip_cam_info.h"
#include "device/upgrade_progress.h"

// What the pages that show devices (the upgrade and schedule pages, the command-line
// tool) are told. Every operation may be called on a worker thread (receive, dispatch
// or upgrade thread), so an implementation must hand the work to its own thread.
class IRegistryObserver {
public:
    virtual ~IRegistryObserver() = default;

    // Empty the lists and forget the devices shown.
    virtual void Reset() = 0;
    // A search reported this device (again).
    virtual void DeviceFound(const CIPCamInfo& record) = 0;
    // Two listed devices turned out to be one (a log-in named the MAC of another, or a
    // device came back where another was listed): `goneKey` is no longer listed, and
    // the device is `kept`. A page that shows a row of goneKey drops it.
    virtual void DeviceMerged(const std::string& goneKey, const CIPCamInfo& kept) {
        static_cast<void>(goneKey);
        DeviceFound(kept);
    }
    // The device is about to be upgraded.
    virtual void DeviceDispatched(const CIPCamInfo& record) = 0;
    // Upgrade progress of one device; stage 32 is final.
    virtual void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                              int code) = 0;
    // The final report (stage 32) of a device, with the firmware version it named after
    // its upgrade (empty when none was read). Passed on as DeviceStatus unless a page
    // wants the version too.
    virtual void DeviceFinished(const UpgradeReport& report) {
        DeviceStatus(report.DeviceId, report.Stage, report.Seconds, report.Percent, report.Code);
    }
    // The device table is full (CCameraTable::kMaxDevices): further devices found are not
    // listed. Told once per search.
    virtual void DeviceListFull() {}
    virtual void Busy(bool busy) = 0;
    virtual void RunBegins() = 0;
    virtual void RunEnds() = 0;
    virtual void RefreshTexts() = 0;
};
