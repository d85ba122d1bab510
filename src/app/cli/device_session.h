#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "registry/camera_control.h"
#include "upgrade/credential_check.h"

// The steps the search and upgrade commands share: where to search, the search itself
// and the credential checks of the devices found.

// The log-in name the program uses for every device.
constexpr const char* kDeviceUser = "admin";
// The password used when none is given.
constexpr const char* kDefaultDevicePassword = "vqmtz";

// Empty when every name is a network interface of this machine, else the message.
std::string UnknownInterface(const std::vector<std::string>& names);

// Starts a search and waits for it to end (a second after the last reply), or until
// `stopped` says so.
void SearchToEnd(CCameraControl& control, const std::function<bool()>& stopped);

// Checks the credentials ("admin" and `password`) of the listed devices at once, one
// thread each, and waits for every check; the outcome per device.
std::map<std::string, CheckOutcome> CheckDevices(CCameraTable& table,
                                                 const std::vector<std::string>& keys,
                                                 const std::string& password);

// The JSON line of a device, as `strelvane-cli search` prints it.
std::string DeviceLine(const CIPCamInfo& record);
