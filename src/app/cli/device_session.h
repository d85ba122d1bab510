#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "registry/camera_control.h"
#include "registry/credential_check.h"

// The steps the search and upgrade commands share: where to search, the search itself
// and the credential checks of the devices found.

// The log-in name the program uses for every device.
constexpr const char* kDeviceUser = "admin";
// The password used when none is given.
constexpr const char* kDefaultDevicePassword = "vqmtz";

// Empty when every name is a network interface of this machine, else the message.
std::string UnknownInterface(const std::vector<std::string>& names);

// A device address as typed: "HOST", "HOST:PORT", "[IPV6]:PORT" or a bare IPv6 literal;
// the port is 80 unless given. False (with a message) for an empty host or a port
// outside 1 to 65535.
bool ParseDeviceAddress(const std::string& text, std::string& host, int& port, std::string& error);

// Empty when every text parses as a device address, else the message.
std::string BadDeviceAddress(const std::vector<std::string>& texts);

// Adds the devices at the addresses by hand (user "admin", `password`), so that every
// search lists them; says on stderr which could not be added and why. The addresses
// must have passed BadDeviceAddress. False when `stopped` ended it (each query ends
// within moments of it).
bool AddDevicesByAddress(CCameraControl& control, const std::vector<std::string>& addresses,
                         const std::string& password, const std::function<bool()>& stopped);

// Asks every address of the ranges who is there (CAddressScan) and adds the devices that
// answer as AddDevicesByAddress does; on a terminal a progress line on stderr, and a
// closing line there in any case. False when `stopped` ended it.
bool ScanAddressRanges(CCameraControl& control, const std::vector<AddressRange>& ranges,
                       const std::string& password, const std::function<bool()>& stopped);

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
