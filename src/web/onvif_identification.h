#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "web/onvif_device.h"

// Who an ONVIF device is, as its device service says once logged in to.
struct OnvifIdentity {
    OnvifDeviceInfo Info;
    std::string Mac;             // empty when the device names none
    std::string ServiceAddress;  // the address that answered
    OnvifAuth Auth = OnvifAuth::Unknown;
    int64_t ClockOffsetSeconds = 0;
};

// Reads the device's clock (no credentials), then logs in and asks GetDeviceInformation
// and GetNetworkInterfaces, at the first of `addresses` that answers. 0 with `out`
// filled; -304 when the credentials were refused; the network's code when no address
// answered; -1 when the device's information is unusable; -2 or -6 past the bounds.
int IdentifyOnvifDevice(const std::vector<std::string>& addresses, const std::string& user,
                        const std::string& password, int timeoutMs, OnvifIdentity& out,
                        const OnvifBounds& bounds = {});

// The model as the lists show it: the maker, then the model ("Acme IPC-5"), unless the
// model already begins with the maker's name.
std::string OnvifModelName(const std::string& manufacturer, const std::string& model);

// Fills the record from an identification: maker, model, firmware version, serial
// number, MAC address, and the address that answered (host, scheme and port, and first
// among the service's addresses).
void ApplyOnvifIdentity(const OnvifIdentity& identity, CIPCamInfo& record);

// Host, scheme and port of the record from a service address; false when it is no
// http or https address.
bool SetRecordAddress(const std::string& serviceAddress, CIPCamInfo& record);
