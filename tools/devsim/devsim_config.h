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

// A forward HTTP proxy on loopback, between the program and the firmware server.
struct ProxyConfig {
    bool Enabled = false;
    std::string Address = "127.0.0.1";
    int Port = 0;      // 0: any free port
    std::string User;  // empty: no log-in asked
    std::string Password;
    // The first answer longer than this many bytes is cut there (0: never), like a
    // link that drops in the middle of a download.
    int CutAfter = 0;
    bool LogRequests = false;  // one "proxy ..." line per request
};

struct DevsimConfig {
    std::vector<SimDeviceConfig> Devices;
    FirmwareServerConfig FirmwareServer;
    DiscoveryConfig Discovery;
    ProxyConfig Proxy;
};

// Reads "key=value" settings into a device or the firmware server; false with an
// error message for an unknown key or a malformed value.
bool ApplyDeviceSetting(SimDeviceConfig& device, const std::string& key, const std::string& value,
                        std::string& error);
bool ApplyFirmwareServerSetting(FirmwareServerConfig& server, const std::string& key,
                                const std::string& value, std::string& error);
bool ApplyProxySetting(ProxyConfig& proxy, const std::string& key, const std::string& value,
                       std::string& error);

// The whole configuration from the command line (see devsim --help), which may name a
// config file; nothing on error, with the message in `error`.
std::optional<DevsimConfig> ParseDevsimArgs(const std::vector<std::string>& args,
                                            std::string& error);

std::string DevsimUsage();
