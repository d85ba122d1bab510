#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim_device.h"

struct FirmwareServerConfig {
    bool Enabled = false;
    std::string Address = "127.0.0.1";
    int Port = 0;        // 0: any free port
    std::string Folder;  // serves Firmware_V2.xml and the image files found here
    std::map<std::string, std::string> Faults;
    // One "request ..." line on stdout per request.
    bool LogRequests = false;
};

struct DiscoveryConfig {
    bool Enabled = false;      // answer the multicast discovery request
    bool LogRequests = false;  // print every request received on stdout
};

struct DevsimConfig {
    std::vector<SimDeviceConfig> Devices;
    FirmwareServerConfig FirmwareServer;
    DiscoveryConfig Discovery;
};

// Reads "key=value" settings into a device or the firmware server; false with an
// error message for an unknown key or a malformed value.
bool ApplyDeviceSetting(SimDeviceConfig& device, const std::string& key, const std::string& value,
                        std::string& error);
bool ApplyFirmwareServerSetting(FirmwareServerConfig& server, const std::string& key,
                                const std::string& value, std::string& error);

// The whole configuration from the command line (see devsim --help), which may name a
// config file; nothing on error, with the message in `error`.
std::optional<DevsimConfig> ParseDevsimArgs(const std::vector<std::string>& args,
                                            std::string& error);

std::string DevsimUsage();
