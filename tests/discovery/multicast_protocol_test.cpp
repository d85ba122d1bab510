// The multicast engine's wire formats and its hand-over of devices, without a network:
// requests are built and replies parsed and delivered by direct calls.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "discovery/bc_multicast_search.h"
#include "discovery/broadcast_upnp_search.h"
#include "search_recorder.h"

namespace {

// The engine tree: the broadcast and UPnP families are declared but cannot be made.
static_assert(std::is_base_of_v<CMulticastSearch, CBCMulticastSearch> &&
              std::is_base_of_v<CSearch, CBroadcastSearch> &&
              std::is_base_of_v<CBroadcastSearch, CBCBroadcastSearch> &&
              std::is_base_of_v<CMulticastSearch, CBCUPnPSearch> &&
              std::is_abstract_v<CBCBroadcastSearch> && std::is_abstract_v<CBCUPnPSearch>);

// A reply laid out as the devices send it.
struct ReplyFields {
    std::string Name = "Lobby";
    std::string Id = "QX0001";
    std::string Address = "10.0.0.7";
    std::string Vendor = "Quorlent";
    std::string Model = "NVR-1600";
    std::string Port = "0";
    uint16_t Code = 111;
    uint16_t Value52 = 0;
    size_t Length = 256;
};

void Put(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

std::vector<uint8_t> Reply(const ReplyFields& f) {
    std::vector<uint8_t> bytes(std::max<size_t>(f.Length, 256), 0);
    Put(bytes, 0, f.Name);
    Put(bytes, 16, "extra");
    bytes[32] = f.Code & 0xFF;
    bytes[33] = f.Code >> 8;
    Put(bytes, 34, f.Id);
    bytes[50] = 0x34;
    bytes[51] = 0x12;
    bytes[52] = f.Value52 & 0xFF;
    bytes[53] = f.Value52 >> 8;
    Put(bytes, 54, f.Address);
    Put(bytes, 70, f.Vendor);
    Put(bytes, 102, f.Model);
    Put(bytes, 134, f.Port);
    bytes.resize(f.Length);
    return bytes;
}

class MulticastProtocolTest : public ::testing::Test {
protected:
    MulticastProtocolTest() {
        engine_.SetVendorList({"Quorlent"});
        engine_.AddListener(recorder_);
    }

    // ParseReply then, when it accepts, DeliverDevice: what the receive thread does.
    bool Receive(const std::vector<uint8_t>& datagram, CIPCamInfo* parsed = nullptr) {
        CIPCamInfo record;
        bool accepted = engine_.ParseReply(datagram, record);
        if (accepted) engine_.DeliverDevice(record);
        if (parsed) *parsed = record;
        return accepted;
    }

    CBCMulticastSearch engine_;
    SearchRecorder recorder_;
};

TEST(MulticastRequestTest, RequestCarriesTheAdapterSettingsByteForByte) {
    CBCMulticastSearch engine;
    AdapterEntry adapter{"eth0",          1,         "192.168.1.10", "255.255.255.0",
                         "192.168.1.254", "8.8.8.8", "10.0.0.53"};
    std::vector<uint8_t> buffer(1024, 0xAA);
    ASSERT_EQ(engine.BuildRequest(adapter, buffer), 64u);

    std::vector<uint8_t> expected(64, 0);
    std::memcpy(expected.data(), "WIPCF", 5);
    expected[16] = 110;
    expected[38] = 1;
    const uint8_t addresses[] = {192, 168, 1, 10, 255, 255, 255, 0, 192, 168,
                                 1,   254, 8, 8,  8,   8,   10,  0, 0,   53};
    std::memcpy(expected.data() + 39, addresses, sizeof addresses);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 64), expected);
    EXPECT_EQ(buffer[64], 0xAA) << "wrote past the request";

    // The second adapter of a two-adapter machine; no gateway means its own address,
    // which the adapter list puts there; missing or malformed entries stay zero.
    AdapterEntry other{"eth1", 0, "10.0.0.5", "255.0.0.0", "10.0.0.5", "", "1.2.3"};
    ASSERT_EQ(engine.BuildRequest(other, buffer), 64u);
    const uint8_t otherBytes[] = {0, 10, 0, 0, 5, 255, 0, 0, 0, 10, 0, 0, 5};
    EXPECT_EQ(std::memcmp(buffer.data() + 38, otherBytes, sizeof otherBytes), 0);
    EXPECT_TRUE(
        std::all_of(buffer.begin() + 51, buffer.begin() + 64, [](uint8_t b) { return b == 0; }));

    std::vector<uint8_t> small(63, 0xAA);
    EXPECT_EQ(engine.BuildRequest(adapter, small), 0u);
    EXPECT_EQ(small[0], 0xAA);
}

TEST_F(MulticastProtocolTest, AcceptedReplyFillsRecordDetailAndResultSet) {
    ReplyFields f;
    f.Vendor = "QUORLENT Security Ltd";
    f.Model = "RX-2000";
    f.Port = "8080";
    f.Value52 = 0x0203;
    CIPCamInfo parsed;
    ASSERT_TRUE(Receive(Reply(f), &parsed));

    EXPECT_EQ(parsed.HostAddress, "10.0.0.7");
    EXPECT_EQ(parsed.HttpPort, 8080);
    EXPECT_EQ(parsed.HttpsPort, 8080);
    EXPECT_EQ(parsed.DiscoveryKind, 1);
    EXPECT_EQ(parsed.RawReply.Length, 256u);
    EXPECT_EQ(
        std::vector<uint8_t>(parsed.RawReply.Bytes.begin(), parsed.RawReply.Bytes.begin() + 256),
        Reply(f));
    const DiscoveryDetail& d = parsed.Detail;
    EXPECT_STREQ(d.Name.data(), "Lobby");
    EXPECT_STREQ(d.Identifier.data(), "QX0001");
    EXPECT_STREQ(d.Vendor.data(), "QUORLENT Security Ltd");
    EXPECT_EQ(d.Command, 111);
    EXPECT_EQ(d.Value52, 0x0203);
    EXPECT_STREQ(d.MyIp.data(), "MyIP=10.0.0.7");
    EXPECT_EQ(d.FoundMarker, 1u);
    EXPECT_EQ(d.KindMarker, 4u);
    EXPECT_EQ(d.ModelCategory, 2u);
    EXPECT_TRUE(engine_.IsKnownHost("10.0.0.7"));

    auto records = recorder_.Records();
    ASSERT_EQ(records.size(), 1u);
    const CIPCamInfo& r = records[0];
    EXPECT_EQ(r.DeviceId, "QX0001");
    EXPECT_EQ(r.DeviceName, "Lobby");
    EXPECT_EQ(r.VendorName, "QUORLENT Security Ltd");
    EXPECT_EQ(r.ModelName, "RX-2000");
    EXPECT_EQ(r.ProductModel, "RX-2000");
    EXPECT_EQ(r.HostAddress, "10.0.0.7");
    EXPECT_EQ(r.HttpPort, 8080);
    EXPECT_EQ(r.HttpsPort, 8080);
    EXPECT_EQ(r.DiscoveryKind, 1);
    EXPECT_STREQ(r.Detail.MyIp.data(), "MyIP=10.0.0.7");
    EXPECT_EQ(r.RawReply.Bytes[50], 0x34);
}

TEST_F(MulticastProtocolTest, RefusedReplies) {
    ReplyFields shortReply;
    shortReply.Length = 255;
    EXPECT_FALSE(Receive(Reply(shortReply)));

    ReplyFields wrongCode;
    wrongCode.Code = 110;  // another tool's request, heard on the group
    EXPECT_FALSE(Receive(Reply(wrongCode)));

    ReplyFields foreign;
    foreign.Address = "10.0.0.9";
    foreign.Vendor = "Acme Quorl";
    EXPECT_FALSE(Receive(Reply(foreign)));
    EXPECT_FALSE(engine_.IsKnownHost("10.0.0.9"));

    ReplyFields notAnAddress;
    notAnAddress.Address = "10.0.0.7/x?";
    EXPECT_FALSE(Receive(Reply(notAnAddress)));
    EXPECT_FALSE(engine_.IsKnownHost("10.0.0.7/x?"));

    // An ONVIF endpoint's form, which would name a camera's row.
    ReplyFields urn;
    urn.Id = "URN:uuid:0a1b";
    EXPECT_FALSE(Receive(Reply(urn)));

    EXPECT_FALSE(Receive({}));
    EXPECT_TRUE(recorder_.Records().empty());

    // Longer datagrams are fine; only the first 256 bytes count.
    ReplyFields longer;
    longer.Length = 300;
    CIPCamInfo parsed;
    EXPECT_TRUE(Receive(Reply(longer), &parsed));
    EXPECT_EQ(parsed.RawReply.Length, 256u);
}

// A device that pads its address text with zeros or blanks means the plain address; one
// whose text is no address at all is still refused.
TEST_F(MulticastProtocolTest, PaddedAddressesAreReadAsTheAddressTheyMean) {
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"192.168.001.010", "192.168.1.10"},
        {"10.0.0.7  ", "10.0.0.7"},
        {" 010.000.000.009", "10.0.0.9"},
        {"10.0.0.256", ""},
        {"10.0.0", ""},
        {"10..0.0.7", ""},
        {"10.0.0.0007", ""},
        {"1.2.3.4.5", ""},
    };
    for (const auto& [text, meant] : texts) {
        ReplyFields fields;
        fields.Address = text;
        CIPCamInfo parsed;
        EXPECT_EQ(Receive(Reply(fields), &parsed), !meant.empty()) << text;
        if (meant.empty()) continue;
        EXPECT_EQ(parsed.HostAddress, meant) << text;
        EXPECT_EQ(recorder_.Records().back().HostAddress, meant) << text;
        EXPECT_TRUE(engine_.IsKnownHost(meant)) << text;
    }
}

TEST_F(MulticastProtocolTest, EmptyVendorListAcceptsNothing) {
    engine_.SetVendorList({});
    EXPECT_FALSE(Receive(Reply({})));
}

TEST_F(MulticastProtocolTest, DuplicateRepliesAreDeliveredEachTimeButRecordedOnce) {
    EXPECT_TRUE(Receive(Reply({})));
    EXPECT_TRUE(Receive(Reply({})));
    EXPECT_EQ(recorder_.Records().size(), 2u);
    EXPECT_TRUE(engine_.IsKnownHost("10.0.0.7"));
    engine_.ClearResultSet();
    EXPECT_FALSE(engine_.IsKnownHost("10.0.0.7"));
}

TEST_F(MulticastProtocolTest, PortTextAndDefaultPorts) {
    struct Case {
        const char* Text;
        int Http;
        int Https;
    };
    // Out-of-range numbers count as no port rather than a port nothing listens on.
    const Case cases[] = {{"8080", 8080, 8080},
                          {"0", 80, 443},
                          {"", 80, 443},
                          {"web", 80, 443},
                          {" 81x", 81, 81},
                          {"65535", 65535, 65535},
                          {"65536", 80, 443},
                          {"-5", 80, 443},
                          {"99999999999999999999", 80, 443},
                          {"18446744073709551696", 80, 443}};
    for (const Case& c : cases) {
        ReplyFields f;
        f.Port = c.Text;
        Receive(Reply(f));
        ASSERT_FALSE(recorder_.Records().empty());
        const CIPCamInfo r = recorder_.Records().back();
        EXPECT_EQ(r.HttpPort, c.Http) << "port text '" << c.Text << "'";
        EXPECT_EQ(r.HttpsPort, c.Https) << "port text '" << c.Text << "'";
    }
}

TEST_F(MulticastProtocolTest, TextsAreTrimmedBoundedAndValidUtf8) {
    ReplyFields f;
    f.Name = "  Gate \t";
    f.Model = " ZD-400 ";
    f.Id = "ABCDEFGHIJKLMNOP";  // fills its field: no NUL inside
    f.Vendor = "Quorlent \xFF\xC3";
    CIPCamInfo parsed;
    ASSERT_TRUE(Receive(Reply(f), &parsed));
    EXPECT_EQ(parsed.Detail.ModelCategory, 3u);
    const CIPCamInfo r = recorder_.Records().at(0);
    EXPECT_EQ(r.DeviceName, "Gate");
    EXPECT_EQ(r.ModelName, "ZD-400");
    EXPECT_EQ(r.DeviceId, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(r.VendorName, "Quorlent \xEF\xBF\xBD\xEF\xBF\xBD");

    ReplyFields plain;
    plain.Model = "NVR-1600";
    ASSERT_TRUE(Receive(Reply(plain), &parsed));
    EXPECT_EQ(parsed.Detail.ModelCategory, 1u);
}

}  // namespace
