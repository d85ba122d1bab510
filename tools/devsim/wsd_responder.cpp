#include "wsd_responder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <set>

#include "event_log.h"
#include "http_auth.h"
#include "onvif_names.h"
#include "udp_reply.h"
#include "ws_token_check.h"

namespace {

// wsd_endless: a minute of replies, ten a second.
constexpr int kEndlessEveryMs = 100;
constexpr int kEndlessRepeats = 600;

constexpr const char* kGroup = "239.255.255.250";
constexpr uint16_t kPort = 3702;
constexpr const char* kSoapNs = onvif_ns::kSoap;
constexpr const char* kAddressingNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kDeviceNs = onvif_ns::kDevice;
constexpr const char* kTo = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
constexpr const char* kProbeAction = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
constexpr size_t kSeenKept = 512;
constexpr int kIdleWaitMs = 100;

// The namespace a prefix stands for at `node`.
std::string NamespaceAt(pugi::xml_node node, const std::string& prefix) {
    const std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    for (; node; node = node.parent()) {
        if (pugi::xml_attribute a = node.attribute(attribute.c_str())) return a.value();
    }
    return std::string();
}

std::string NamespaceOfElement(pugi::xml_node element) {
    const std::string name = element.name();
    const size_t colon = name.find(':');
    return NamespaceAt(element, colon == std::string::npos ? "" : name.substr(0, colon));
}

pugi::xml_node Child(pugi::xml_node parent, const char* localName, const char* ns) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && LocalPart(c.name()) == localName &&
            NamespaceOfElement(c) == ns) {
            return c;
        }
    }
    return pugi::xml_node();
}

std::string Trimmed(const char* text) {
    std::string s = text;
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Empty when the probe is one a camera answers, with its MessageID in `messageId`;
// otherwise why not.
std::string ProbeFault(const char* bytes, size_t length, std::string& messageId) {
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes, length)) return "malformed XML";
    const pugi::xml_node envelope = doc.document_element();
    if (LocalPart(envelope.name()) != "Envelope" || NamespaceOfElement(envelope) != kSoapNs) {
        return "not a SOAP 1.2 envelope";
    }
    const pugi::xml_node header = Child(envelope, "Header", kSoapNs);
    if (Trimmed(Child(header, "Action", kAddressingNs).child_value()) != kProbeAction) {
        return "not the Probe action";
    }
    if (Trimmed(Child(header, "To", kAddressingNs).child_value()) != kTo) return "wrong To";
    messageId = Trimmed(Child(header, "MessageID", kAddressingNs).child_value());
    if (messageId.empty()) return "no MessageID";
    const pugi::xml_node probe = Child(Child(envelope, "Body", kSoapNs), "Probe", kDiscoveryNs);
    if (!probe) return "no Probe in the Body";
    const pugi::xml_node types = Child(probe, "Types", kDiscoveryNs);
    const std::string list = Trimmed(types.child_value());
    if (list.empty()) return std::string();
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = std::min(list.find_first_of(" \t\r\n", at), list.size());
        const std::string qname = list.substr(at, end - at);
        const size_t colon = qname.find(':');
        if (colon != std::string::npos && qname.substr(colon + 1) == "Device" &&
            NamespaceAt(types, qname.substr(0, colon)) == kDeviceNs) {
            return std::string();
        }
        at = list.find_first_not_of(" \t\r\n", end);
        if (at == std::string::npos) break;
    }
    return "Types do not ask for tds:Device";
}

std::string ScopeText(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ProbeMatches(const SimDevice& device, const std::string& relatesTo) {
    const SimDeviceConfig& c = device.Config();
    std::string xaddrs = "http://" + device.Address() + ":" + std::to_string(device.HttpPort()) +
                         "/onvif/device_service";
    if (device.HasFault("wsd_stale_xaddr")) {
        xaddrs =
            "http://" + device.FaultValue("wsd_stale_xaddr") + "/onvif/device_service " + xaddrs;
    }
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"") +
           kSoapNs + "\" xmlns:a=\"" + kAddressingNs + "\" xmlns:d=\"" + kDiscoveryNs +
           "\" xmlns:tds=\"" + kDeviceNs +
           "\" xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><s:Header><a:MessageID>"
           "urn:uuid:" +
           Md5Hex(relatesTo + c.Id) + "</a:MessageID><a:RelatesTo>" +
           (device.HasFault("wsd_relates_to_upper") ? UpperCase(relatesTo) : relatesTo) +
           "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
           "</a:To><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches"
           "</a:Action></s:Header><s:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference>"
           "<a:Address>" +
           CameraEndpoint(device) +
           "</a:Address></a:EndpointReference><d:Types>tds:Device dn:NetworkVideoTransmitter"
           "</d:Types><d:Scopes>onvif://www.onvif.org/type/video_encoder "
           "onvif://www.onvif.org/name/" +
           ScopeText(c.Name) + " onvif://www.onvif.org/hardware/" + ScopeText(c.Model) +
           "</d:Scopes><d:XAddrs>" + xaddrs +
           "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches>"
           "</s:Body></s:Envelope>";
}

}  // namespace

const std::vector<std::string>& WsdFaultNames() {
    static const std::vector<std::string> names = {"wsd_stale_xaddr", "wsd_relates_to_upper",
                                                   "wsd_trailing_nul", "wsd_endless"};
    return names;
}

std::string CameraEndpoint(const SimDevice& device) {
    const std::string hex = Md5Hex("onvif-camera:" + device.Config().Id);
    return "urn:uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

WsdResponder::WsdResponder(const std::vector<std::unique_ptr<SimDevice>>& devices, bool logRequests,
                           AwayCheck away)
    : logRequests_(logRequests), away_(std::move(away)) {
    for (const auto& device : devices) {
        if (device->IsOnvif()) cameras_.push_back(device.get());
    }
}

WsdResponder::~WsdResponder() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
}

bool WsdResponder::Start(std::string& error) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) != 0 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("WS-Discovery socket on port 3702: ") + std::strerror(errno);
        return false;
    }
    std::set<std::string> joined;
    for (const SimDevice* camera : cameras_) {
        const std::string address = camera->Config().Address;
        if (!joined.insert(address).second) continue;
        if (!JoinGroup(fd_, kGroup, address)) {
            error = "cannot join 239.255.255.250 on " + address + ": " + std::strerror(errno);
            return false;
        }
    }
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

void WsdResponder::Run(std::stop_token stop) {
    RunResponder(
        fd_, stop, std::chrono::milliseconds(kIdleWaitMs),
        [this]() -> std::optional<SteadyTime> {
            if (due_.empty()) return std::nullopt;
            return due_.begin()->first;
        },
        [this] { ReceiveProbe(); }, [this] { SendDue(); });
}

void WsdResponder::ReceiveProbe() {
    char bytes[65536];
    ReceivedDatagram datagram;
    if (!ReceiveDatagram(fd_, bytes, sizeof bytes, datagram)) return;
    const size_t received = datagram.Length;
    const std::string& source = datagram.FromText;
    std::string messageId;
    const std::string fault = ProbeFault(bytes, received, messageId);
    if (logRequests_) {
        PrintEvent("wsd-probe from=" + source + " message_id=" +
                   (messageId.empty() ? "-" : messageId) + " valid=" + (fault.empty() ? "1" : "0"));
    }
    if (!fault.empty()) {
        PrintProblem(std::string("WS-Discovery: ignoring a datagram from ") + source + ": " +
                     fault);
        return;
    }
    if (std::find(seen_.begin(), seen_.end(), messageId) != seen_.end()) return;
    seen_.push_back(messageId);
    if (seen_.size() > kSeenKept) seen_.pop_front();
    const auto now = std::chrono::steady_clock::now();
    for (const SimDevice* camera : cameras_) {
        const int delay = std::uniform_int_distribution<int>(0, kMaxReplyDelayMs)(random_);
        due_.emplace(now + std::chrono::milliseconds(delay),
                     Pending{camera, datagram.From, datagram.InterfaceIndex, messageId});
    }
}

void WsdResponder::SendDue() {
    const auto now = std::chrono::steady_clock::now();
    while (!due_.empty() && due_.begin()->first <= now) {
        Pending pending = due_.begin()->second;
        due_.erase(due_.begin());
        if (away_ && away_(*pending.Device)) continue;
        std::string reply = ProbeMatches(*pending.Device, pending.RelatesTo);
        if (pending.Device->HasFault("wsd_trailing_nul")) reply += '\0';
        // From the camera's own address (a camera back from its restart elsewhere answers
        // from there), out of the interface the probe came in.
        if (!SendFrom(fd_, pending.To, pending.InterfaceIndex, pending.Device->Address(),
                      reply.data(), reply.size())) {
            PrintProblem("WS-Discovery: reply of " + pending.Device->Config().Id +
                         " not sent: " + std::strerror(errno));
        }
        if (pending.Device->HasFault("wsd_endless") && pending.Repeats < kEndlessRepeats) {
            ++pending.Repeats;
            due_.emplace(now + std::chrono::milliseconds(kEndlessEveryMs), pending);
        }
    }
}
