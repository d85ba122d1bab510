#include "discovery/ws_discovery_messages.h"

#include <array>
#include <optional>
#include <pugixml.hpp>

#include "base/http_url.h"
#include "base/random_bytes.h"
#include "base/text.h"
#include "base/trace.h"
#include "base/utf16.h"
#include "base/xml_names.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// A list of URIs separated by white space, at most kMaxListItems of them.
std::vector<std::string> UriList(const char* text) {
    std::vector<std::string> items = SplitAny(text, " \t\r\n");
    std::erase_if(items, [](const std::string& item) { return item.size() > wsd::kMaxUriBytes; });
    if (items.size() > wsd::kMaxListItems) items.resize(wsd::kMaxListItems);
    return items;
}

}  // namespace

std::string NewMessageId() {
    std::array<unsigned char, 16> bytes{};
    FillRandom(bytes);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text = "urn:uuid:";
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string UuidKey(std::string_view id) {
    const std::string text = Trim(id);
    const std::string lower = ToLowerAscii(text);
    for (std::string_view prefix : {"urn:uuid:", "uuid:"}) {
        if (StartsWith(lower, prefix)) return "urn:uuid:" + lower.substr(prefix.size());
    }
    return text;
}

std::string BuildProbe(const std::string& messageId) {
    pugi::xml_document doc;
    pugi::xml_node envelope = doc.append_child("s:Envelope");
    envelope.append_attribute("xmlns:s") = wsd::kSoapNs;
    envelope.append_attribute("xmlns:a") = wsd::kAddressingNs;
    envelope.append_attribute("xmlns:d") = wsd::kDiscoveryNs;
    envelope.append_attribute("xmlns:tds") = wsd::kDeviceNs;
    pugi::xml_node header = envelope.append_child("s:Header");
    header.append_child("a:MessageID").text() = messageId.c_str();
    header.append_child("a:To").text() = wsd::kTo;
    header.append_child("a:Action").text() = wsd::kProbeAction;
    pugi::xml_node probe = envelope.append_child("s:Body").append_child("d:Probe");
    probe.append_child("d:Types").text() = "tds:Device";
    return XmlDocumentText(doc);
}

std::vector<ProbeMatch> ParseProbeMatches(std::string_view message) {
    std::vector<ProbeMatch> matches;
    if (message.size() > wsd::kMaxMessageBytes) return matches;
    message = message.substr(0, message.find('\0'));
    if (message.empty()) return matches;
    pugi::xml_document doc;
    if (!doc.load_buffer(message.data(), message.size(), pugi::parse_default,
                         pugi::encoding_utf8)) {
        return matches;
    }
    pugi::xml_node envelope = doc.document_element();
    if (LocalName(envelope.name()) != "Envelope" || ElementNamespace(envelope) != wsd::kSoapNs) {
        return matches;
    }
    pugi::xml_node header = ChildNamed(envelope, "Header", wsd::kSoapNs);
    const std::string relatesTo =
        Trim(ChildNamed(header, "RelatesTo", wsd::kAddressingNs).child_value());
    pugi::xml_node list =
        ChildNamed(ChildNamed(envelope, "Body", wsd::kSoapNs), "ProbeMatches", wsd::kDiscoveryNs);
    for (pugi::xml_node item = list.first_child(); item && matches.size() < wsd::kMaxMatches;
         item = item.next_sibling()) {
        if (item.type() != pugi::node_element || LocalName(item.name()) != "ProbeMatch" ||
            ElementNamespace(item) != wsd::kDiscoveryNs) {
            continue;
        }
        ProbeMatch match;
        match.RelatesTo = relatesTo;
        match.Endpoint = Trim(ChildNamed(ChildNamed(item, "EndpointReference", wsd::kAddressingNs),
                                         "Address", wsd::kAddressingNs)
                                  .child_value());
        match.Scopes = UriList(ChildNamed(item, "Scopes", wsd::kDiscoveryNs).child_value());
        match.XAddrs = UriList(ChildNamed(item, "XAddrs", wsd::kDiscoveryNs).child_value());
        if (match.Endpoint.empty() || match.Endpoint.size() > wsd::kMaxEndpointBytes ||
            match.XAddrs.empty()) {
            continue;
        }
        matches.push_back(std::move(match));
    }
    return matches;
}

std::string ScopeValue(const std::vector<std::string>& scopes, std::string_view kind) {
    const std::string prefix = "onvif://www.onvif.org/" + std::string(kind) + "/";
    for (const std::string& scope : scopes) {
        if (!StartsWith(scope, prefix)) continue;
        std::string value = Trim(PercentDecode(scope.substr(prefix.size())));
        if (value.size() > wsd::kMaxTextBytes) {
            size_t end = wsd::kMaxTextBytes;  // not inside a character
            while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
            value.resize(end);
        }
        return ToValidUtf8(value);
    }
    return std::string();
}

std::vector<std::string> OrderServiceAddresses(const std::vector<std::string>& xaddrs,
                                               const std::string& sender) {
    std::vector<std::string> onSender;
    std::optional<HttpUrl> firstElsewhere;
    for (const std::string& text : xaddrs) {
        std::optional<HttpUrl> url = ParseHttpUrl(text);
        if (!url) continue;
        if (sender.empty() || url->Host == sender) {
            onSender.push_back(url->Text());
            continue;
        }
        // Anyone may name any host: credentials go only where the reply came from.
        Trace("WS-Discovery reply from %s names %s; not used", sender.c_str(), url->Text().c_str());
        if (!firstElsewhere) firstElsewhere = url;
    }
    if (onSender.empty() && firstElsewhere) {
        // A stale address (the camera moved): its path on the sender's own address.
        firstElsewhere->Host = sender;
        onSender.push_back(firstElsewhere->Text());
    }
    return onSender;
}
