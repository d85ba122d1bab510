#pragma once

#include <cstdint>
#include <string>

#include "web/onvif_session.h"

// The ONVIF device service operations the program uses, each answer read into plain
// values. Every operation returns the session's code (0, -304, the network's) or -1
// when the answer lacks what it must hold.

struct OnvifDeviceInfo {
    std::string Manufacturer;
    std::string Model;
    std::string FirmwareVersion;
    std::string SerialNumber;
    std::string HardwareId;
};

// The device's firmware upgrade over HTTP, as StartFirmwareUpgrade hands it out.
struct OnvifUpgradeTicket {
    std::string UploadUri;
    int64_t UploadDelayMs = 0;
    int64_t ExpectedDownTimeMs = 0;
};

namespace onvif {
// Longest UploadDelay and ExpectedDownTime believed: a device naming more is mistaken
// (or hostile), and a run must not wait for hours on its word.
constexpr int64_t kMaxUploadDelayMs = 5 * 60 * 1000;
constexpr int64_t kMaxDownTimeMs = 30 * 60 * 1000;
// Device texts longer than this are cut (they reach lists, files and terminals).
constexpr size_t kMaxTextBytes = 128;
}  // namespace onvif

// GetDeviceInformation: maker, model, firmware version and serial number. -1 when the
// answer names no model or no firmware version.
int GetDeviceInformation(COnvifSession& session, OnvifDeviceInfo& info);
bool ReadDeviceInformation(const pugi::xml_node& response, OnvifDeviceInfo& info);

// GetNetworkInterfaces: the MAC address of the first enabled interface that names one
// (upper case, colon-separated). -1 when none does.
int GetMacAddress(COnvifSession& session, std::string& mac);
bool ReadMacAddress(const pugi::xml_node& response, std::string& mac);

// GetServiceCapabilities: whether the device takes firmware over HTTP
// (System/@HttpFirmwareUpgrade).
int GetHttpFirmwareUpgrade(COnvifSession& session, bool& supported);
bool ReadHttpFirmwareUpgrade(const pugi::xml_node& response);

// StartFirmwareUpgrade: where and when to send the image and how long the device will
// be away. -1 for an upload address that is not http or https, or durations that are
// malformed or beyond the limits above.
int StartFirmwareUpgrade(COnvifSession& session, OnvifUpgradeTicket& ticket);
bool ReadUpgradeTicket(const pugi::xml_node& response, OnvifUpgradeTicket& ticket);
