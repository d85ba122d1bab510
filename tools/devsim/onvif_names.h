#pragma once

// The namespaces a simulated ONVIF camera reads and writes.
namespace onvif_ns {
constexpr const char* kSoap = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kDevice = "http://www.onvif.org/ver10/device/wsdl";
}  // namespace onvif_ns
