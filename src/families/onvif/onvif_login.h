#pragma once

#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "pipeline/device_family.h"

// An ONVIF device's log-in check, through its device service: the answer says at once
// whether the credentials hold, and gives its maker, model, MAC, serial number and the
// address that answered.
CheckOutcome CheckOnvifLogin(CIPCamInfo& record);

// The firmware version the camera at `services` names when it names `mac`; empty
// otherwise.
std::string OnvifVersionNamed(const std::vector<std::string>& services, const std::string& user,
                              const std::string& password, const std::string& mac, int timeoutMs);
