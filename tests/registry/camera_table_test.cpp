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
