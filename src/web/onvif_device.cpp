#include "web/onvif_device.h"

#include <cctype>

#include "base/http_url.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/xml_names.h"
#include "base/xs_duration.h"

namespace {

std::string DeviceText(const pugi::xml_node& parent, const char* name) {
    std::string text = ChildText(parent, name);
    if (text.size() > onvif::kMaxTextBytes) text.resize(onvif::kMaxTextBytes);
    return text;
}

// "00:1a:2B:3c:4d:5e", "001A2B3C4D5E" or "00-1A-..." as "00:1A:2B:3C:4D:5E"; empty for
// anything else.
std::string NormalMac(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (c != ':' && c != '-') {
            return std::string();
        }
    }
    if (digits.size() != 12) return std::string();
    std::string mac;
    for (size_t i = 0; i < 12; i += 2) {
        if (i > 0) mac += ':';
        mac += digits.substr(i, 2);
    }
    return mac;
}

template <typename Read>
int CallAndRead(COnvifSession& session, const char* operation, Read read) {
    SoapAnswer answer;
    const int result = session.Call(operation, answer);
    if (result != rc::kOk) return result;
    return read(answer.Payload) ? rc::kOk : rc::kFailed;
}

}  // namespace

bool ReadDeviceInformation(const pugi::xml_node& response, OnvifDeviceInfo& info) {
    info.Manufacturer = DeviceText(response, "Manufacturer");
    info.Model = DeviceText(response, "Model");
    info.FirmwareVersion = DeviceText(response, "FirmwareVersion");
    info.SerialNumber = DeviceText(response, "SerialNumber");
    info.HardwareId = DeviceText(response, "HardwareId");
    return !info.Model.empty() && !info.FirmwareVersion.empty();
}

int GetDeviceInformation(COnvifSession& session, OnvifDeviceInfo& info) {
    return CallAndRead(session, "GetDeviceInformation",
                       [&](const pugi::xml_node& r) { return ReadDeviceInformation(r, info); });
}

bool ReadMacAddress(const pugi::xml_node& response, std::string& mac) {
    for (pugi::xml_node item = response.first_child(); item; item = item.next_sibling()) {
        if (LocalName(item.name()) != "NetworkInterfaces") continue;
        if (EqualsNoCase(ChildText(item, "Enabled"), "false")) continue;
        mac = NormalMac(ChildText(ChildNamed(item, "Info"), "HwAddress"));
        if (!mac.empty()) return true;
    }
    return false;
}

int GetMacAddress(COnvifSession& session, std::string& mac) {
    return CallAndRead(session, "GetNetworkInterfaces",
                       [&](const pugi::xml_node& r) { return ReadMacAddress(r, mac); });
}

bool ReadHttpFirmwareUpgrade(const pugi::xml_node& response) {
    const pugi::xml_node system = ChildNamed(ChildNamed(response, "Capabilities"), "System");
    const std::string value = Trim(system.attribute("HttpFirmwareUpgrade").value());
    return value == "true" || value == "1";
}

int GetHttpFirmwareUpgrade(COnvifSession& session, bool& supported) {
    return CallAndRead(session, "GetServiceCapabilities", [&](const pugi::xml_node& r) {
        supported = ReadHttpFirmwareUpgrade(r);
        return true;
    });
}

bool ReadUpgradeTicket(const pugi::xml_node& response, OnvifUpgradeTicket& ticket) {
    ticket.UploadUri = ChildText(response, "UploadUri");
    const std::optional<int64_t> delay =
        ParseXsDuration(ChildText(response, "UploadDelay"), onvif::kMaxUploadDelayMs);
    const std::optional<int64_t> down =
        ParseXsDuration(ChildText(response, "ExpectedDownTime"), onvif::kMaxDownTimeMs);
    if (!ParseHttpUrl(ticket.UploadUri) || !delay || !down) return false;
    ticket.UploadDelayMs = *delay;
    ticket.ExpectedDownTimeMs = *down;
    return true;
}

int StartFirmwareUpgrade(COnvifSession& session, OnvifUpgradeTicket& ticket) {
    return CallAndRead(session, "StartFirmwareUpgrade",
                       [&](const pugi::xml_node& r) { return ReadUpgradeTicket(r, ticket); });
}
