#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The WS-Discovery (2005/04) messages of the search for ONVIF devices: the Probe the
// search multicasts and the ProbeMatches devices send back to it.
namespace wsd {
constexpr const char* kGroup = "239.255.255.250";
constexpr uint16_t kPort = 3702;
constexpr const char* kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kAddressingNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char* kTo = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
constexpr const char* kProbeAction = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
constexpr const char* kProbeMatchesAction =
    "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
// A reply beyond this is not read: a ProbeMatches of one device is a few kilobytes.
constexpr size_t kMaxMessageBytes = 65507;
// Matches taken from one message, and addresses and scopes from one match.
constexpr size_t kMaxMatches = 16;
constexpr size_t kMaxListItems = 32;
// An endpoint reference is a UUID URN of 45 bytes; a longer one is no camera's (a cut
// one could name another device), and the match is dropped. Longer scopes and service
// addresses are dropped too; a scope's value (a name, a model) is cut to kMaxTextBytes
// like every other text a device sends.
constexpr size_t kMaxEndpointBytes = 256;
constexpr size_t kMaxUriBytes = 512;
constexpr size_t kMaxTextBytes = 128;
}  // namespace wsd

// One device of a ProbeMatches message.
struct ProbeMatch {
    std::string Endpoint;   // the endpoint reference's address: "urn:uuid:..."
    std::string RelatesTo;  // the MessageID of the probe it answers
    std::vector<std::string> Scopes;
    std::vector<std::string> XAddrs;  // the device service's addresses
};

// A fresh "urn:uuid:" message identifier (random, version 4).
std::string NewMessageId();

// The form in which identifiers are compared: a UUID as "urn:uuid:" and its hex digits
// in lower case, whether it came as "urn:uuid:", "uuid:" or in upper case (UUIDs compare
// without regard to case, RFC 4122); any other identifier as it came, trimmed.
std::string UuidKey(std::string_view id);

// The Probe for devices of type tds:Device, with `messageId` as its MessageID.
std::string BuildProbe(const std::string& messageId);

// The matches of a ProbeMatches message that name an endpoint and at least one service
// address; empty for anything else (another message, malformed XML, a SOAP fault). A
// NUL byte ends the message: some cameras send one after the XML.
std::vector<ProbeMatch> ParseProbeMatches(std::string_view message);

// The value of the first ONVIF scope "onvif://www.onvif.org/<kind>/<value>", with its
// percent escapes decoded, valid UTF-8 of at most kMaxTextBytes; empty when no scope of
// that kind is listed.
std::string ScopeValue(const std::vector<std::string>& scopes, std::string_view kind);

// The service addresses to try: only those on the host that sent the reply (any device
// may name any host; others are traced and dropped); when none names that host, the path
// of the first on the sender's own address (the camera moved). Addresses that are not
// http or https are dropped. An empty sender keeps every address.
std::vector<std::string> OrderServiceAddresses(const std::vector<std::string>& xaddrs,
                                               const std::string& sender);
