// The WS-Discovery side of the search: the Probe we send, the ProbeMatches we take, and
// the device records they become.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <regex>

#include "base/text.h"
#include "base/xml_names.h"
#include "discovery/ws_discovery_messages.h"
#include "discovery/ws_discovery_search.h"

namespace {

std::string Match(const std::string& endpoint, const std::string& xaddrs,
                  const std::string& scopes =
                      "onvif://www.onvif.org/name/Gate%20Cam "
                      "onvif://www.onvif.org/hardware/IPC-5") {
    return "<d:ProbeMatch><a:EndpointReference><a:Address>" + endpoint +
           "</a:Address></a:EndpointReference><d:Types>tds:Device</d:Types><d:Scopes>" + scopes +
           "</d:Scopes><d:XAddrs>" + xaddrs + "</d:XAddrs></d:ProbeMatch>";
}

std::string Matches(const std::string& relatesTo, const std::string& body,
                    const std::string& soapNs = wsd::kSoapNs) {
    return "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"" + soapNs + "\" xmlns:a=\"" +
           wsd::kAddressingNs + "\" xmlns:d=\"" + wsd::kDiscoveryNs +
           "\"><env:Header><a:RelatesTo>" + relatesTo +
           "</a:RelatesTo></env:Header><env:Body><d:ProbeMatches>" + body +
           "</d:ProbeMatches></env:Body></env:Envelope>";
}

TEST(WsDiscoveryMessagesTest, ProbeAsksForDevicesWithAFreshId) {
    const std::string first = NewMessageId();
    EXPECT_TRUE(std::regex_match(
        first, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                          "[0-9a-f]{12}")));
    EXPECT_NE(first, NewMessageId());

    pugi::xml_document doc;
    const std::string probe = BuildProbe(first);
    ASSERT_TRUE(doc.load_string(probe.c_str()));
    const pugi::xml_node envelope = doc.document_element();
    EXPECT_EQ(ElementNamespace(envelope), wsd::kSoapNs);
    const pugi::xml_node header = ChildNamed(envelope, "Header", wsd::kSoapNs);
    EXPECT_EQ(ChildText(header, "MessageID"), first);
    EXPECT_EQ(ChildText(header, "To"), wsd::kTo);
    EXPECT_EQ(ChildText(header, "Action"), wsd::kProbeAction);
    const pugi::xml_node types =
        ChildNamed(ChildNamed(ChildNamed(envelope, "Body"), "Probe", wsd::kDiscoveryNs), "Types");
    EXPECT_STREQ(types.child_value(), "tds:Device");
    EXPECT_EQ(NamespaceOf(types, "tds"), wsd::kDeviceNs);
}

TEST(WsDiscoveryMessagesTest, TakesOnlyWholeMatchesOfProbeMatches) {
    const std::string id = "urn:uuid:1";
    const struct {
        const char* Name;
        std::string Message;
        size_t Matches;
    } cases[] = {
        {"one", Matches(id, Match("urn:uuid:a", "http://10.0.0.5/onvif/device_service")), 1},
        {"two",
         Matches(id, Match("urn:uuid:a", "http://10.0.0.5/x") +
                         Match("urn:uuid:b", "http://10.0.0.6/x")),
         2},
        {"no endpoint", Matches(id, Match("", "http://10.0.0.5/x")), 0},
        {"no address", Matches(id, Match("urn:uuid:a", " ")), 0},
        // A 60 kB reference is no camera's; a cut one could name another device.
        {"endpoint too long",
         Matches(id, Match("urn:uuid:" + std::string(60000, 'a'), "http://h/x")), 0},
        {"only an address too long",
         Matches(id, Match("urn:uuid:a", "http://h/" + std::string(600, 'x'))), 0},
        {"SOAP 1.1",
         Matches(id, Match("urn:uuid:a", "http://10.0.0.5/x"),
                 "http://schemas.xmlsoap.org/soap/envelope/"),
         0},
        {"not XML", "<env:Envelope", 0},
        {"empty", "", 0},
        {"fault", Matches(id, ""), 0},
        {"too large",
         Matches(id, Match("urn:uuid:a", "http://10.0.0.5/x") +
                         std::string(wsd::kMaxMessageBytes, ' ')),
         0},
        {"capped",
         Matches(id,
                 [] {
                     std::string many;
                     for (int i = 0; i < 40; ++i)
                         many += Match("urn:uuid:" + std::to_string(i), "http://10.0.0.5/x");
                     return many;
                 }()),
         wsd::kMaxMatches},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::vector<ProbeMatch> matches = ParseProbeMatches(c.Message);
        ASSERT_EQ(matches.size(), c.Matches);
        for (const ProbeMatch& m : matches) EXPECT_EQ(m.RelatesTo, id);
    }
}

TEST(WsDiscoveryMessagesTest, ScopesAreDecodedAndAddressesOrderedForTheSender) {
    const std::vector<std::string> scopes = {"onvif://www.onvif.org/type/video_encoder",
                                             "onvif://www.onvif.org/name/Gate%20Cam%2F2",
                                             "onvif://www.onvif.org/hardware/IPC-5%zz"};
    EXPECT_EQ(ScopeValue(scopes, "name"), "Gate Cam/2");
    EXPECT_EQ(ScopeValue(scopes, "hardware"), "IPC-5%zz");
    EXPECT_EQ(ScopeValue(scopes, "location"), "");
    // Cut like other device texts, never inside a character.
    std::string long_name = "onvif://www.onvif.org/name/a";
    for (int i = 0; i < 100; ++i) long_name += "%C3%A9";
    const std::string cut = ScopeValue({long_name}, "name");
    EXPECT_EQ(cut.size(), 127u);
    EXPECT_EQ(cut.substr(0, 3), "a\xC3\xA9");

    const struct {
        const char* Name;
        std::vector<std::string> XAddrs;
        std::vector<std::string> Order;
    } cases[] = {
        {"only the sender's",
         {"http://10.9.0.5/onvif/device_service", "http://198.18.1.5/onvif/device_service",
          "http://127.0.0.1/onvif/device_service"},
         {"http://198.18.1.5:80/onvif/device_service"}},
        {"none on the sender: its path there",
         {"http://10.9.0.5:8080/onvif/ds", "http://127.0.0.1/x"},
         {"http://198.18.1.5:8080/onvif/ds"}},
        {"not http dropped",
         {"soap.udp://198.18.1.5:3702", "https://198.18.1.5/onvif/ds"},
         {"https://198.18.1.5:443/onvif/ds"}},
        {"nothing usable", {"garbage"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(OrderServiceAddresses(c.XAddrs, "198.18.1.5"), c.Order);
    }
}

TEST(WsDiscoverySearchTest, RecordsOnlyAnswersToItsOwnProbes) {
    CWsDiscoverySearch engine;
    std::vector<uint8_t> probe(wsd::kMaxMessageBytes);
    const size_t length = engine.BuildRequest(AdapterEntry{}, probe);
    ASSERT_GT(length, 0u);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(probe.data(), length));
    const std::string ours = ChildText(ChildNamed(doc.document_element(), "Header"), "MessageID");

    auto bytes = [](const std::string& text) {
        return std::vector<uint8_t>(text.begin(), text.end());
    };
    const auto stranger = bytes(Matches(NewMessageId(), Match("urn:uuid:a", "http://10.0.0.5/x")));
    EXPECT_TRUE(engine.ParseMatches(stranger, "10.0.0.5").empty());
    EXPECT_FALSE(engine.IsKnownHost("10.0.0.5"));
    // A reference that is no URN (here a maker's device's identifier) names no camera.
    const auto notUrn = bytes(Matches(ours, Match("QX0001", "http://10.0.0.5/x")));
    EXPECT_TRUE(engine.ParseMatches(notUrn, "10.0.0.5").empty());

    const auto answer = bytes(Matches(ours, Match("urn:uuid:cam",
                                                  "http://10.9.9.9/onvif/device_service "
                                                  "https://198.18.1.5:8443/onvif/device_service")));
    const std::vector<CIPCamInfo> records = engine.ParseMatches(answer, "198.18.1.5");
    ASSERT_EQ(records.size(), 1u);
    const CIPCamInfo& r = records[0];
    EXPECT_EQ(r.Protocol, DeviceProtocol::Onvif);
    EXPECT_EQ(r.DeviceId, "urn:uuid:cam");
    EXPECT_EQ(r.DeviceName, "Gate Cam");
    EXPECT_EQ(r.ModelName, "IPC-5");
    EXPECT_EQ(r.HostAddress, "198.18.1.5");
    EXPECT_EQ(r.HttpsFlag, 1);
    EXPECT_EQ(r.HttpsPort, 8443);
    // The address on another host is nobody's to send a log-in to.
    EXPECT_EQ(r.ServiceAddresses,
              (std::vector<std::string>{"https://198.18.1.5:8443/onvif/device_service"}));
    EXPECT_TRUE(engine.IsKnownHost("198.18.1.5"));
}

// UUIDs compare without regard to case or to the "urn:" in front (RFC 4122), and some
// cameras end the datagram with a NUL after the XML.
TEST(WsDiscoverySearchTest, RepliesAnswerTheirProbeInAnyCaseOrForm) {
    CWsDiscoverySearch engine;
    std::vector<uint8_t> probe(wsd::kMaxMessageBytes);
    const size_t length = engine.BuildRequest(AdapterEntry{}, probe);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(probe.data(), length));
    const std::string ours = ChildText(ChildNamed(doc.document_element(), "Header"), "MessageID");
    const std::string upper = ToUpperAscii(ours);
    const std::string bare = ours.substr(std::string("urn:uuid:").size());
    const struct {
        const char* Name;
        std::string RelatesTo;
        std::string After;  // bytes after the XML
        bool Taken;
    } cases[] = {
        {"as sent", ours, "", true},
        {"upper case", upper, "", true},
        {"uuid: form", "uuid:" + bare, "", true},
        {"uuid: form, upper case", "UUID:" + ToUpperAscii(bare), "", true},
        {"NUL after the XML", ours, std::string(1, '\0'), true},
        {"NUL and noise after the XML", ours, std::string("\0\x01zz", 4), true},
        {"another probe's", NewMessageId(), "", false},
        {"only the prefix", "urn:uuid:", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string message =
            Matches(c.RelatesTo, Match("UUID:0A1B2C3D-CAM", "http://198.18.1.5/onvif/ds")) +
            c.After;
        const std::vector<CIPCamInfo> records =
            engine.ParseMatches(std::vector<uint8_t>(message.begin(), message.end()), "198.18.1.5");
        ASSERT_EQ(records.size(), c.Taken ? 1u : 0u);
        // The endpoint in one form, whatever form the camera named it in.
        if (c.Taken) {
            EXPECT_EQ(records[0].DeviceId, "urn:uuid:0a1b2c3d-cam");
        }
    }
}

}  // namespace
