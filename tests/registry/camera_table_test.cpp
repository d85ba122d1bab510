// The device table's rules: how reports, removal, clearing and selection change it.
#include <gtest/gtest.h>

#include "registry/camera_table.h"

namespace {

CIPCamInfo Reported(const std::string& id, const std::string& address = "198.18.1.1") {
    CIPCamInfo r;
    r.DeviceId = id;
    r.DeviceName = "Cam " + id;
    r.ModelName = "NVR-1600";
    r.HostAddress = address;
    r.HttpPort = 8080;
    r.HttpsPort = 8080;
    r.SeenCount = 9;  // a reported record's own count means nothing to the table
    r.Checked = 0;
    r.Detail.Command = 111;
    return r;
}

TEST(CameraTableTest, FirstReportStoresRepeatedReportsCountSightings) {
    CCameraTable table;
    EXPECT_FALSE(table.Find("A"));
    table.AddOrUpdate("A", Reported("A"));
    auto a = table.Find("A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->SeenCount, 1);
    EXPECT_EQ(a->LastSeen.Status, OleDateTime::kValid);
    EXPECT_GT(a->LastSeen.Days, 40000.0);
    EXPECT_EQ(a->DeviceName, "Cam A");
    EXPECT_EQ(a->HttpPort, 8080);
    EXPECT_EQ(a->Checked, 1) << "selection is the table's, not the report's";
    EXPECT_EQ(a->Detail.Command, 0) << "discovery areas are not copied into the table";

    // What the pages and checks stored stays; the device's name and address follow it.
    table.SetCredentials("A", "admin", "secret", 0);
    table.Modify("A", [](CIPCamInfo& r) { r.FirmwareVersion = "1.2.3"; });
    CIPCamInfo again = Reported("A", "198.18.1.77");
    again.DeviceName = "Renamed";
    again.UserName = "other";
    again.FirmwareVersion = "9.9";
    table.AddOrUpdate("A", again);
    a = table.Find("A");
    EXPECT_EQ(a->SeenCount, 2);
    EXPECT_EQ(a->UserName, "admin");
    EXPECT_EQ(a->Password, "secret");
    EXPECT_EQ(a->Checked, 0);
    EXPECT_EQ(a->FirmwareVersion, "1.2.3");
    EXPECT_EQ(a->HostAddress, "198.18.1.77");
    EXPECT_EQ(a->DeviceName, "Renamed");
    EXPECT_EQ(table.Keys(), (std::vector<std::string>{"A"}));
}

TEST(CameraTableTest, PinnedRecordIsLeftAlone) {
    CCameraTable table;
    CIPCamInfo manual = Reported("M", "10.1.1.1");
    manual.Pinned = 1;
    table.AddOrUpdate("M", manual);
    table.AddOrUpdate("M", Reported("M", "198.18.1.5"));
    auto m = table.Find("M");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->SeenCount, 1);
    EXPECT_EQ(m->HostAddress, "10.1.1.1");
    EXPECT_EQ(m->Pinned, 1);
}

TEST(CameraTableTest, RemovedDeviceIsHiddenUntilItReportsAgain) {
    CCameraTable table;
    table.AddOrUpdate("A", Reported("A"));
    table.AddOrUpdate("B", Reported("B"));
    table.AddOrUpdate("A", Reported("A"));
    table.SetCredentials("A", "admin", "pw", 1);
    table.Remove("A");
    EXPECT_FALSE(table.Find("A"));
    EXPECT_FALSE(
        table.Modify("A", [](CIPCamInfo&) { ADD_FAILURE() << "changed a hidden record"; }));
    EXPECT_EQ(table.Keys(), (std::vector<std::string>{"B"}));
    EXPECT_EQ(table.CountChecked(), 1);

    // The stored record stays (with its credentials) and counts from zero again.
    table.AddOrUpdate("A", Reported("A"));
    auto a = table.Find("A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->SeenCount, 1);
    EXPECT_EQ(a->Password, "pw");
    EXPECT_EQ(table.Keys(), (std::vector<std::string>{"B", "A"}));

    // Remove unpins too, so the next report counts.
    table.Modify("A", [](CIPCamInfo& r) { r.Pinned = 1; });
    table.Remove("A");
    table.AddOrUpdate("A", Reported("A"));
    EXPECT_EQ(table.Find("A")->SeenCount, 1);
    EXPECT_EQ(table.Find("A")->Pinned, 0);
    table.Remove("unknown");
}

TEST(CameraTableTest, CountCheckedCountsOnlyListedRecordsCheckedWithOne) {
    CCameraTable table;
    const std::pair<const char*, int32_t> devices[] = {
        {"A", 1}, {"B", 0}, {"C", 2}, {"D", -1}, {"E", 1}};
    for (const auto& [id, checked] : devices) {
        table.AddOrUpdate(id, Reported(id));
        table.SetCredentials(id, "admin", "pw", checked);
    }
    EXPECT_EQ(table.CountChecked(), 2);
    table.Remove("E");
    EXPECT_EQ(table.CountChecked(), 1);
    table.SetCredentials("nobody", "admin", "pw", 1);
    EXPECT_EQ(table.CountChecked(), 1);
}

TEST(CameraTableTest, ClearForgetsEverything) {
    CCameraTable table;
    table.AddOrUpdate("A", Reported("A"));
    table.AddOrUpdate("A", Reported("A"));
    table.SetCredentials("A", "admin", "pw", 0);
    table.Clear();
    EXPECT_FALSE(table.Find("A"));
    EXPECT_TRUE(table.Keys().empty());
    EXPECT_EQ(table.CountChecked(), 0);
    table.AddOrUpdate("A", Reported("A"));
    auto a = table.Find("A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->SeenCount, 1);
    EXPECT_TRUE(a->Password.empty());
    EXPECT_EQ(a->Checked, 1);
}

}  // namespace

namespace {

TEST(CameraTableTest, AnOnvifCameraFollowsItsServiceAddressesAndKeepsItsProtocolUnlisted) {
    CCameraTable table;
    CIPCamInfo camera = Reported("urn:uuid:c");
    camera.Protocol = DeviceProtocol::Onvif;
    camera.ServiceAddresses = {"http://198.18.1.1:80/onvif/device_service"};
    table.AddOrUpdate(camera.DeviceId, camera);
    table.Modify(camera.DeviceId, [](CIPCamInfo& r) { r.ModelName = "Acme IPC-5"; });

    // Back over HTTPS at another address: scheme and addresses follow; the model stays.
    camera.HostAddress = "198.18.1.9";
    camera.HttpsFlag = 1;
    camera.HttpsPort = 8443;
    camera.ServiceAddresses = {"https://198.18.1.9:8443/onvif/device_service"};
    table.AddOrUpdate(camera.DeviceId, camera);
    const std::optional<CIPCamInfo> stored = table.Find(camera.DeviceId);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->GetScheme(), "https");
    EXPECT_EQ(stored->GetPort(), 8443);
    EXPECT_EQ(stored->ServiceAddresses, camera.ServiceAddresses);
    EXPECT_EQ(stored->ModelName, "Acme IPC-5");

    // The maker's devices keep the scheme the pages chose for them.
    table.AddOrUpdate("A", Reported("A"));
    table.Modify("A", [](CIPCamInfo& r) { r.HttpsFlag = 1; });
    table.AddOrUpdate("A", Reported("A"));
    EXPECT_EQ(table.Find("A")->HttpsFlag, 1);

    table.Remove(camera.DeviceId);
    EXPECT_FALSE(table.Find(camera.DeviceId));
    EXPECT_EQ(table.FindStored(camera.DeviceId)->Protocol, DeviceProtocol::Onvif);
    EXPECT_EQ(table.FindStored("A")->Protocol, DeviceProtocol::Maker);
    EXPECT_FALSE(table.FindStored("nobody"));
}

}  // namespace

namespace {

// One device found in several ways, in every order: each way reports it under a key of
// its own, and a log-in (a credential check, an entry by address) names its MAC.
struct Step {
    enum Kind { Report, LogIn } What = Report;
    CIPCamInfo Record;  // Report
    std::string Key;    // LogIn: whose log-in names Mac
    std::string Mac;
};

const std::string kMac = "00:1C:A1:00:00:09";

Step Searched(const std::string& id, const std::string& host, int port = 80) {
    Step s;
    s.Record = Reported(id, host);
    s.Record.HttpPort = s.Record.HttpsPort = port;
    return s;
}

Step Onvif(const std::string& id, const std::string& host, int port = 80) {
    Step s = Searched(id, host, port);
    s.Record.Protocol = DeviceProtocol::Onvif;
    s.Record.ModelName = "IPC";
    s.Record.ServiceAddresses = {"http://" + host + ":" + std::to_string(port) +
                                 "/onvif/device_service"};
    return s;
}

// By address or range: keyed by the MAC its network page named after the log-in.
Step Entered(const std::string& host, int port = 80, const std::string& mac = kMac) {
    Step s = Searched(mac, host, port);
    s.Record.MacAddress = mac;
    s.Record.LoginOk = 1;
    return s;
}

Step LogIn(const std::string& key, const std::string& mac = kMac) {
    Step s;
    s.What = Step::LogIn;
    s.Key = key;
    s.Mac = mac;
    return s;
}

struct Merges {
    std::vector<std::string> Told;  // "gone>kept"
    void Listen(CCameraTable& table) {
        table.SetMergeListener([this](const std::string& gone, const std::string& kept) {
            Told.push_back(gone + ">" + kept);
        });
    }
};

void Play(CCameraTable& table, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.What == Step::Report) {
            table.AddOrUpdate(step.Record.DeviceId, step.Record);
        } else {
            table.Modify(step.Key, [&](CIPCamInfo& r) { r.MacAddress = step.Mac; });
        }
    }
}

TEST(CameraTableTest, EveryWayOfFindingADeviceEndsInItsOneRecord) {
    const char* h = "198.18.1.5";
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
        std::string Kept;
        DeviceProtocol Protocol;
        std::vector<std::string> Told;
    };
    const Case cases[] = {
        {"range, then the maker's search",
         {Entered(h), Searched("I", h), Searched("I", h)},
         kMac,
         DeviceProtocol::Maker,
         {}},
        {"search, then entry by address",
         {Searched("I", h), Entered(h)},
         "I",
         DeviceProtocol::Maker,
         {}},
        {"search and log-in, then entry at another port",
         {Searched("I", h), LogIn("I"), Entered(h, 8080)},
         "I",
         DeviceProtocol::Maker,
         {}},
        {"maker with log-in, then ONVIF",
         {Searched("I", h), LogIn("I"), Onvif("urn:uuid:u", h)},
         "I",
         DeviceProtocol::Maker,
         {}},
        {"ONVIF with log-in, then maker",
         {Onvif("urn:uuid:u", h), LogIn("urn:uuid:u"), Searched("I", h)},
         "urn:uuid:u",
         DeviceProtocol::Maker,
         {}},
        {"range, ONVIF, maker",
         {Entered(h), Onvif("urn:uuid:u", h), Searched("I", h)},
         kMac,
         DeviceProtocol::Maker,
         {}},
        {"ONVIF on another port, then maker; log-ins name one MAC",
         {Onvif("urn:uuid:u", h, 8080), Searched("I", h), LogIn("I"), LogIn("urn:uuid:u")},
         "urn:uuid:u",
         DeviceProtocol::Maker,
         {"I>urn:uuid:u"}},
        {"maker, then ONVIF on another port; log-ins name one MAC",
         {Searched("I", h), Onvif("urn:uuid:u", h, 8080), LogIn("urn:uuid:u"), LogIn("I")},
         "I",
         DeviceProtocol::Maker,
         {"urn:uuid:u>I"}},
        {"ONVIF alone",
         {Onvif("urn:uuid:u", h), Onvif("urn:uuid:u", h)},
         "urn:uuid:u",
         DeviceProtocol::Onvif,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CCameraTable table;
        Merges merges;
        merges.Listen(table);
        Play(table, c.Steps);
        EXPECT_EQ(table.Keys(), (std::vector<std::string>{c.Kept}));
        EXPECT_EQ(merges.Told, c.Told);
        const std::optional<CIPCamInfo> kept = table.Find(c.Kept);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->Protocol, c.Protocol);
        // The maker's procedure reaches it where the maker's search found it.
        EXPECT_EQ(kept->GetPort(), 80);
        if (c.Protocol == DeviceProtocol::Maker) {
            EXPECT_EQ(kept->ModelName, "NVR-1600");
        }
        for (const Step& step : c.Steps) {
            const std::string key = step.What == Step::Report ? step.Record.DeviceId : step.Key;
            const std::optional<CIPCamInfo> found = table.Find(key);
            ASSERT_TRUE(found) << key;
            EXPECT_EQ(found->DeviceId, c.Kept) << key;
        }
        table.SetCredentials("I", "admin", "typed", 1);
        EXPECT_EQ(table.CountChecked(), 1);
    }
}

// What must stay two records: a MAC a search claims (anyone can), a log-in naming another
// MAC, one MAC at two addresses (a clone as likely as one device), a second name of a
// record seen elsewhere.
TEST(CameraTableTest, OnlyALogInsMacAtOneAddressMakesTwoReportsOneDevice) {
    const char* h = "198.18.1.5";
    const char* elsewhere = "198.18.2.5";
    Step claim = Searched("001CA1000009", elsewhere);
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
        std::vector<std::string> Keys;
    };
    const Case cases[] = {
        {"two devices", {Searched("I", h), Searched("J", elsewhere)}, {"I", "J"}},
        {"two claims of one address", {Searched("I", h), Onvif("U", h)}, {"I", "U"}},
        {"an entry naming the MAC elsewhere",
         {Searched("I", h), LogIn("I"), Entered(elsewhere)},
         {"I", kMac}},
        {"log-ins naming one MAC at two addresses",
         {Searched("I", h), Onvif("U", elsewhere), LogIn("I"), LogIn("U")},
         {"I", "U"}},
        {"same address, other port", {Searched("I", h), Searched("J", h, 8080)}, {"I", "J"}},
        {"a search naming the MAC as its identifier",
         {Entered(h), claim},
         {kMac, claim.Record.DeviceId}},
        {"a log-in named another MAC there",
         {Searched("I", h), LogIn("I", "00:1C:A1:00:00:01"), Entered(h)},
         {"I", kMac}},
        {"placeholder MACs",
         {Searched("I", h), LogIn("I", "00:00:00:00:00:00"), Onvif("U", elsewhere),
          LogIn("U", "00:00:00:00:00:00")},
         {"I", "U"}},
        {"the search's name reported elsewhere",
         {Entered(h), Searched("I", h), Searched("I", elsewhere)},
         {kMac, "I"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CCameraTable table;
        Merges merges;
        merges.Listen(table);
        Play(table, c.Steps);
        EXPECT_EQ(table.Keys(), c.Keys);
        EXPECT_TRUE(merges.Told.empty());
    }
    // A second name seen elsewhere does not move the record it named.
    CCameraTable table;
    Play(table, {Entered(h), Searched("I", h), Searched("I", elsewhere)});
    EXPECT_EQ(table.Find(kMac)->HostAddress, h);
    EXPECT_EQ(table.Find("I")->HostAddress, elsewhere);
}

}  // namespace
