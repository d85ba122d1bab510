// The devices a command is asked for: one device found under several identifiers is
// chosen once, under the key the table lists it by.
#include <gtest/gtest.h>

#include "app/cli/device_choice.h"

namespace {

CIPCamInfo Reported(const std::string& id, int port, DeviceProtocol protocol,
                    const std::string& host = "198.18.1.5") {
    CIPCamInfo r;
    r.DeviceId = id;
    r.ModelName = "NVR-1600";
    r.HostAddress = host;
    r.HttpPort = r.HttpsPort = port;
    r.Protocol = protocol;
    if (protocol == DeviceProtocol::Onvif) {
        r.ServiceAddresses = {"http://" + host + ":" + std::to_string(port) +
                              "/onvif/device_service"};
    }
    return r;
}

// The maker's search and WS-Discovery list one device at two ports; the log-ins name one
// MAC, which makes "I" a second name of the endpoint's record.
void ListOneDeviceTwice(CCameraTable& table) {
    table.AddOrUpdate("urn:uuid:u", Reported("urn:uuid:u", 8080, DeviceProtocol::Onvif));
    table.AddOrUpdate("I", Reported("I", 80, DeviceProtocol::Maker));
    table.AddOrUpdate("J", Reported("J", 80, DeviceProtocol::Maker, "198.18.1.6"));
    for (const char* key : {"I", "urn:uuid:u"}) {
        table.Modify(key, [](CIPCamInfo& r) { r.MacAddress = "00:1C:A1:00:00:09"; });
    }
}

TEST(DeviceChoiceTest, EveryNameOfAJoinedDeviceChoosesItOnceUnderItsListedKey) {
    CCameraTable table;
    ListOneDeviceTwice(table);
    ASSERT_EQ(table.Keys(), (std::vector<std::string>{"urn:uuid:u", "J"}));
    struct Case {
        bool All;
        std::vector<std::string> Asked;
        std::vector<std::string> Chosen, Missing;
    };
    const Case cases[] = {
        {true, {}, {"urn:uuid:u", "J"}, {}},
        {false, {"I"}, {"urn:uuid:u"}, {}},
        {false, {"I", "urn:uuid:u", "I"}, {"urn:uuid:u"}, {}},
        {false, {"J", "nobody", "I", "nobody"}, {"J", "urn:uuid:u"}, {"nobody"}},
        // Typed in another case, or in the other UUID form.
        {false, {"URN:UUID:U", "j"}, {"urn:uuid:u", "J"}, {}},
        {false, {"uuid:U", "urn:uuid:"}, {"urn:uuid:u"}, {"urn:uuid:"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> missing;
        EXPECT_EQ(ChooseDevices(table, c.All, c.Asked, missing), c.Chosen);
        EXPECT_EQ(missing, c.Missing);
    }
}

TEST(DeviceChoiceTest, DevicesJoinedAfterTheChoiceCountOnce) {
    CCameraTable table;
    table.AddOrUpdate("urn:uuid:u", Reported("urn:uuid:u", 8080, DeviceProtocol::Onvif));
    table.AddOrUpdate("I", Reported("I", 80, DeviceProtocol::Maker));
    std::vector<std::string> missing;
    const std::vector<std::string> chosen = ChooseDevices(table, true, {}, missing);
    ASSERT_EQ(chosen.size(), 2u);
    // The credential checks learn that both name one MAC.
    for (const char* key : {"I", "urn:uuid:u"}) {
        table.Modify(key, [](CIPCamInfo& r) { r.MacAddress = "00:1C:A1:00:00:09"; });
    }
    EXPECT_EQ(ListedKeys(table, chosen), (std::vector<std::string>{"urn:uuid:u"}));
}

}  // namespace
