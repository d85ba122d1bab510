#pragma once

#include <optional>
#include <string>

#include "device/ip_cam_info.h"

// The devices as listed, for a module that only reads them and stays below the device
// table (the upgrade history). The device table is one.
class IDeviceLookup {
public:
    virtual ~IDeviceLookup() = default;

    // A copy of the record, if the key is listed.
    virtual std::optional<CIPCamInfo> Find(const std::string& key) const = 0;
    // The stored record, listed or not (a device unlisted while it restarts).
    virtual std::optional<CIPCamInfo> FindStored(const std::string& key) const = 0;
};
