#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// How a device reads firmware uploads (device_upgrade.cpp documents the fault names).
struct UploadFaults {
    bool Drop = false;
    int64_t DropAfter = -1;  // -1: half the body
    int64_t StallMs = 0;
    int64_t BytesPerSecond = 0;
};

// Reads the upload faults (and checks the reboot faults' values); false with a message
// for a bad value.
bool ReadUploadFaults(const std::map<std::string, std::string>& faults, UploadFaults& out,
                      std::string& error);

// Device fault names understood by the upload endpoints.
const std::vector<std::string>& DeviceUpgradeFaultNames();
