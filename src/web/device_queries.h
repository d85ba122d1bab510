#pragma once

#include <string>

#include "device/ip_cam_info.h"

// Questions asked of a device to learn or confirm who it is. Each forms the device's
// address from the record (GetScheme, HostAddress, GetPort) and blocks the calling
// worker thread until it is answered or times out.

// The address of the device's system information list.
std::string SystemListUrl(const std::string& scheme, const std::string& host, int port);

// The firmware version a system information list names (".system.product.firmware.
// version=", trimmed); empty when it names none.
std::string FirmwareVersionIn(const std::string& systemList);

// The MAC address a system information list names (".system.product.mac.address=", up
// to a "," or the line's end, trimmed); empty when it names none.
std::string MacAddressIn(const std::string& systemList);

// Asks the device's system information page for its model (1000 ms). 0 with `model`
// set and stored, trimmed, in ProductModel; otherwise the web client's code, or -1 when
// the answer has no "nvr.system.product.model=" line (record and `model` untouched).
// An empty `apiVersion` becomes "V1" whatever the outcome.
int QueryNvrModel(CIPCamInfo& cam, std::string& apiVersion, std::string& model);

// Logs in through the NVR's log-in form (the record's scheme and port, 2000 ms). 0: accepted, and
// UserName, Password and LoginOk = 1 are stored; -304: refused or unreachable, LoginOk = 0 and the
// old credentials stay.
int CheckNvrLogin(CIPCamInfo& cam, const std::string& user, const std::string& password);

// The address of the maker's device's own configuration page, logged in with the record's
// credentials, for opening in a browser.
std::string BuildLoginPageUrl(const CIPCamInfo& cam);

// The same address for a schedule entry, which holds its port as text.
std::string BuildLoginPageUrl(const std::string& host, const std::string& portText,
                              const std::string& user, const std::string& password, bool https);
