#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "upgrade/batch_guard.h"

// The two sides of the border between the registry and the upgrade manager: what the
// camera control hands over and is told, and what the manager asks of the camera
// control while a job waits for its device.

// One device to upgrade: its address, credentials, images and the dispatch's flags.
struct JobRequest {
    std::string Scheme;  // "http" or "https"
    std::string DeviceId;
    std::string Host;
    int32_t Port = 0;
    std::string UserName;
    std::string Password;
    std::deque<std::string> ImageQueue;  // full paths, installed front first
    uint8_t RunFlag = 0;                 // the Upgrade command passes 1
    uint8_t SingleModel = 0;             // a "PLX-420S": prepared, then one form upload per image
    // The MAC address the device named (or its key, entered by address); empty when
    // unknown. A device naming it at another address after the image is the same device
    // come back there; another device answering at the old address is not.
    std::string Mac;
    // The firmware version the device runs now (empty when unknown): a device that
    // answers with another one has restarted.
    std::string FirmwareVersion;
    // The images come from the firmware store, whose catalogue names their versions: a
    // device back with the version it had before failed to take them. A hand-picked
    // image may legitimately be the version the device already runs.
    uint8_t ImagesFromStore = 0;
    // The model as listed: a run's first device of each model may go alone.
    std::string Model;
    // An ONVIF camera is upgraded through its device service, found at these addresses
    // (the one that answered last first).
    DeviceProtocol Protocol = DeviceProtocol::Maker;
    std::vector<std::string> ServiceAddresses;
};

// The part of the upgrade manager the camera control calls.
class IUpgradeManager {
public:
    virtual ~IUpgradeManager() = default;

    // Starts the job or queues it; the device's identifier, or empty when the device
    // already has a job running or queued, under this identifier or, when the MAC is
    // known, under another naming the same MAC (one device is never upgraded twice at
    // once).
    virtual std::string StartJob(const JobRequest& request) = 0;

    // A job that waits for its device to come back after the reboot learns here that
    // the device has reported itself again, and where it can now be reached.
    virtual void DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                                 const std::string& host, int port) = 0;

    // An Upgrade command's dispatch is under way: the run does not end while it is,
    // even when every job handed over so far has ended. Every DispatchBegins is paired
    // with one DispatchEnds, after the dispatch's last hand-over.
    virtual void DispatchBegins() = 0;
    virtual void DispatchEnds() = 0;

    // The guards of the next run: they hold from its first job until it ends.
    virtual void SetBatchPolicy(const BatchPolicy& policy) = 0;
};

// The part of the camera control the upgrade manager calls.
class IDeviceFinder {
public:
    virtual ~IDeviceFinder() = default;

    // Unlists the device, so that it counts as back only once it reports itself again.
    virtual void ForgetDevice(const std::string& key) = 0;

    // Keeps a search running so the device can report itself; when it has, passes its
    // address to the upgrade manager's DeviceSeenAgain and returns true.
    virtual bool CheckDeviceReturned(const std::string& key) = 0;

    // The firmware version the device named after its upgrade, before the final report
    // goes out, so that whoever looks the device up then finds it.
    virtual void FirmwareVersionRead(const std::string& key, const std::string& version) = 0;
};
