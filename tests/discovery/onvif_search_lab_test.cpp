// One search on a simulated LAN (scripts/lab) finds the maker's devices and ONVIF cameras
// of another maker together, and the log-in check identifies each camera however it
// wants to be logged in to.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/json_field.h"
#include "support/lab_network.h"

namespace {

using namespace std::chrono_literals;

class OnvifSearchLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(OnvifSearchLabTest, OneSearchFindsBothKindsAndIdentifiesEveryCamera) {
    LabNetwork lab({.Devices = 5});
    const std::string camera = "protocol=onvif,vendor=Acme,model=IPC-5,firmware=3.1.0";
    DevsimProcess sim(
        {"--discovery",  //
         "--device", "id=NVR1,address=198.18.1.1,model=NVR-1600,https_port=-1", "--device",
         "id=NVR2,address=198.18.1.2,model=NVR-1600,https_port=-1", "--device",
         "id=CAM3,address=198.18.1.3,name=Gate Cam,mac=00:1A:2B:00:00:03,auth=digest," + camera,
         "--device", "id=CAM4,address=198.18.1.4,mac=00:1A:2B:00:00:04,auth=token," + camera,
         // Four hours ahead, and naming a stale address first.
         "--device",
         "id=CAM5,address=198.18.1.5,mac=00:1A:2B:00:00:05,auth=token,"
         "clock_skew_s=14400,fault=wsd_stale_xaddr:10.99.0.5," +
             camera},
        lab.InDevices());

    ChildProcess cli({"ip", "netns", "exec", lab.TechNamespace(), STRELVANE_CLI_PATH, "search",
                      "--json", "--password", "vqmtz"});
    std::map<std::string, std::string> lines;  // by DeviceId
    while (auto line = cli.ReadLine(60s)) lines[JsonField(*line, "DeviceId")] = *line;
    EXPECT_EQ(cli.Wait(10s), 0);
    ASSERT_EQ(lines.size(), 5u);

    int named = 0;
    for (const auto& [id, line] : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(JsonField(line, "LoginOk"), "true");
        if (JsonField(line, "Protocol").empty()) {
            EXPECT_EQ(JsonField(line, "ModelName"), "NVR-1600");
            continue;
        }
        EXPECT_EQ(JsonField(line, "Protocol"), "onvif");
        EXPECT_EQ(JsonField(line, "DeviceId").rfind("urn:uuid:", 0), 0u);
        EXPECT_EQ(JsonField(line, "ModelName"), "Acme IPC-5");
        EXPECT_EQ(JsonField(line, "VendorName"), "Acme");
        EXPECT_EQ(JsonField(line, "FirmwareVersion"), "3.1.0");
        // The camera's own address, not the stale one it listed first.
        const std::string host = JsonField(line, "HostAddress");
        EXPECT_EQ(host.rfind("198.18.1.", 0), 0u);
        EXPECT_EQ(JsonField(line, "MacAddress"), "00:1A:2B:00:00:0" + host.substr(9));
        named += JsonField(line, "DeviceName") == "Gate Cam" ? 1 : 0;
    }
    EXPECT_EQ(named, 1);  // the name scope, decoded
}

// A camera that echoes the probe's MessageID in upper case, and one that ends its
// datagram with a NUL byte after the XML, are both found and identified.
TEST_F(OnvifSearchLabTest, RepliesInOtherFormsAreTaken) {
    LabNetwork lab({.Devices = 2});
    const std::string camera = "protocol=onvif,auth=digest,https_port=-1,fault=";
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=UPPER,address=198.18.1.1,mac=00:1A:2B:00:00:01," + camera + "wsd_relates_to_upper",
         "--device",
         "id=NUL,address=198.18.1.2,mac=00:1A:2B:00:00:02," + camera + "wsd_trailing_nul"},
        lab.InDevices());
    ChildProcess cli({"ip", "netns", "exec", lab.TechNamespace(), STRELVANE_CLI_PATH, "search",
                      "--json", "--password", "vqmtz"});
    std::map<std::string, std::string> lines;  // by HostAddress
    while (auto line = cli.ReadLine(60s)) lines[JsonField(*line, "HostAddress")] = *line;
    EXPECT_EQ(cli.Wait(10s), 0);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& [host, line] : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(JsonField(line, "Protocol"), "onvif");
        EXPECT_EQ(JsonField(line, "LoginOk"), "true");
    }
}

}  // namespace

namespace {

// A device of each kind that keeps replying ten times a second keeps neither search
// listening past its window: the command ends, each device listed once.
TEST_F(OnvifSearchLabTest, DevicesThatKeepReplyingKeepNoSearch) {
    LabNetwork lab({.Devices = 2});
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=NVR,address=198.18.1.1,model=NVR-1600,https_port=-1,"
         "fault=discovery_endless",
         "--device", "id=CAM,address=198.18.1.2,protocol=onvif,https_port=-1,fault=wsd_endless"},
        lab.InDevices());
    const auto start = std::chrono::steady_clock::now();
    ChildProcess cli({"ip", "netns", "exec", lab.TechNamespace(), STRELVANE_CLI_PATH, "search",
                      "--json", "--password", "vqmtz"});
    std::map<std::string, int> hosts;
    while (auto line = cli.ReadLine(30s)) ++hosts[JsonField(*line, "HostAddress")];
    EXPECT_EQ(cli.Wait(5s), 0);
    // The replies would go on for a minute; the windows end within seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(hosts, (std::map<std::string, int>{{"198.18.1.1", 1}, {"198.18.1.2", 1}}));
}

}  // namespace
