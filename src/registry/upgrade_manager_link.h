#pragma once

#include <string>

// The part of the upgrade manager the registry calls: a job that waits for its device
// to come back after the reboot learns here that the device has reported itself again,
// and where it can now be reached.
class IUpgradeManager {
public:
    virtual ~IUpgradeManager() = default;
    virtual void DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                                 const std::string& host, int port) = 0;
};
