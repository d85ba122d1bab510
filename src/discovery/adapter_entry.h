#pragma once

#include <cstdint>
#include <string>

// One usable network adapter, as the discovery request describes it to the devices.
// Addresses are dotted IPv4 texts; empty when the system has none to offer.
struct AdapterEntry {
    std::string InterfaceName;  // e.g. "eth0"; lets a search be limited to named adapters
    uint32_t DhcpEnabled = 0;   // 1 when the address is a DHCP lease
    std::string Address;        // the adapter's first IPv4 address
    std::string Mask;           // its subnet mask
    std::string Gateway;        // its first default gateway; its own address when it has none
    std::string Dns1;           // first DNS server
    std::string Dns2;           // second DNS server
};
