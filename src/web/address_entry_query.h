#pragma once

#include <string>

// Who a device typed in by address is: the answers of its system list, its log-in form
// and its network information page.
struct AddressedDevice {
    std::string Host;  // as usable in an address: an IPv6 literal in square brackets
    std::string Model;
    std::string FirmwareVersion;
    std::string HostName;
    std::string Mac;
};

// Puts an IPv6 literal (a host with ':') in square brackets, leaving a bracketed one and
// any other host as they are.
std::string BracketedHost(const std::string& host);

// Asks the device at scheme://host:port, on one kept connection with the given
// credentials (2000 ms each), for its system list, logs in through its log-in form and
// reads its network information. 0 with `out` filled; the code of the system list
// request when it failed (-1, -2, -8, -101, -301); -304 when the log-in was refused or
// failed; -1 when the network page names no MAC address.
int QueryDeviceByAddress(const std::string& scheme, const std::string& host, int port,
                         const std::string& user, const std::string& password,
                         AddressedDevice& out);
