#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// How the program speaks to a device: the maker's own protocol (multicast discovery, CGI
// pages, form uploads) or ONVIF (WS-Discovery, the SOAP device service, an HTTP upload).
// Each is upgraded by the device family that takes it (families/); a new protocol is one
// value here and its row of facts in the .cpp.
enum class DeviceProtocol : uint8_t { Maker, Onvif };

// What the modules below the device families know of a protocol's devices: data, one row
// per protocol, so that none of them asks which protocol a device speaks.
struct ProtocolFacts {
    // Its name where a file or a line of the command-line program names the protocol.
    const char* Name;
    // A device that answers on two protocols is one device, upgraded through the protocol
    // of the higher rank.
    int Rank;
    // The firmware store holds images for its models: a device is asked for its model and
    // offered the newer stored images, and the site inventory names the newest one.
    bool StoreImages;
    // It takes the image chosen for cameras, when there is one.
    bool CameraImage;
    // A log-in names its maker, model, MAC and serial number, and the address that
    // answered; they replace what its search reply claimed.
    bool LoginIdentifies;
    // It is reached through the service addresses its reply names (they come and go with
    // its address, and a schedule entry keeps the path of the first).
    bool ServiceAddressed;
};

const ProtocolFacts& FactsOf(DeviceProtocol protocol);
// The protocol of that name; none for a name no protocol has.
std::optional<DeviceProtocol> ProtocolNamed(std::string_view name);
