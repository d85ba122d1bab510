#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "web/ws_security.h"

// The SOAP 1.2 messages of the ONVIF device service: a request is an envelope around one
// operation element of the device service's namespace, with a WS-Security header when
// the device is logged in to with a UsernameToken; an answer is the operation's response
// element or a fault.
namespace soap {
constexpr const char* kEnvelopeNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char* kSchemaNs = "http://www.onvif.org/ver10/schema";
constexpr const char* kContentType = "application/soap+xml; charset=utf-8";
// An answer of the device service beyond this is refused unread: the operations used
// answer with a few kilobytes.
constexpr size_t kMaxAnswerBytes = 1 << 20;
}  // namespace soap

// The request for the device service operation `operation` (an element without
// children, "GetDeviceInformation"), with `token` in a Security header when given.
std::string BuildSoapRequest(std::string_view operation, const UsernameToken* token);

// A parsed answer: the body's first element, or the fault it holds.
struct SoapAnswer {
    pugi::xml_document Doc;
    pugi::xml_node Payload;  // the first element of the Body; null for a fault
    bool IsFault = false;
    std::vector<std::string> FaultCodes;  // local names: Code's value, then each Subcode's
    std::string FaultReason;
};

// False when `text` is no SOAP 1.2 envelope with a Body holding an element.
bool ParseSoapAnswer(std::string_view text, SoapAnswer& answer);

// A fault that says the sender is not authorized (ONVIF's ter:NotAuthorized; some
// devices say ter:FailedAuthentication).
bool IsNotAuthorized(const SoapAnswer& answer);
