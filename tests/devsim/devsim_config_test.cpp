// The simulator's configuration: what the tests rely on when they describe a lab.
#include <gtest/gtest.h>

#include "support/devsim_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

TEST(DevsimConfigTest, GeneratedDevicesNumberTheirValues) {
    DevsimProcess sim({"--devices", "3", "id=QX{n},address=127.0.0.{n+10},https_port=-1",
                       "--device", "id=Solo,https_port=-1"});
    ASSERT_EQ(sim.Devices().size(), 4u);
    EXPECT_EQ(sim.Devices()[0].Id, "QX1");
    EXPECT_EQ(sim.Devices()[0].Address, "127.0.0.11");
    EXPECT_EQ(sim.Devices()[2].Address, "127.0.0.13");
    EXPECT_EQ(sim.DeviceById("Solo").Address, "127.0.0.1");
}

TEST(DevsimConfigTest, ConfigFileAndBadSettings) {
    TempDir dir;
    dir.Write("lab.conf",
              "# two cameras\n"
              "device id=A name=\"Front door\" https_port=-1\n"
              "\n"
              "devices 2 id=B{n} https_port=-1\n");
    DevsimProcess sim({"--config", dir.File("lab.conf")});
    ASSERT_EQ(sim.Devices().size(), 3u);
    EXPECT_EQ(sim.Devices()[2].Id, "B2");

    auto unknown = RunProcess({DEVSIM_PATH, "--device", "id=A,colour=red"}, 10s);
    EXPECT_EQ(unknown.ExitCode, 2);
    auto badPort = RunProcess({DEVSIM_PATH, "--device", "id=A,http_port=eighty"}, 10s);
    EXPECT_EQ(badPort.ExitCode, 2);
    auto badFault = RunProcess({DEVSIM_PATH, "--device", "id=A,fault=meltdown"}, 10s);
    EXPECT_EQ(badFault.ExitCode, 2);
    auto badLog =
        RunProcess({DEVSIM_PATH, "--firmware-server", "folder=" + dir.Path() + ",log=yes"}, 10s);
    EXPECT_EQ(badLog.ExitCode, 2);
    dir.Write("bad.conf", "device id=A\nrouter id=B\n");
    auto badLine = RunProcess({DEVSIM_PATH, "--config", dir.File("bad.conf")}, 10s);
    EXPECT_EQ(badLine.ExitCode, 2);
    auto nothing = RunProcess({DEVSIM_PATH}, 10s);
    EXPECT_EQ(nothing.ExitCode, 2);
    for (const char* bad : {"id=A,protocol=upnp", "id=A,auth=ntlm", "id=A,clock_skew_s=soon"}) {
        EXPECT_EQ(RunProcess({DEVSIM_PATH, "--device", bad}, 10s).ExitCode, 2) << bad;
    }
}

TEST(DevsimConfigTest, AnOnvifCameraNamesTheEndpointItIsFoundBy) {
    DevsimProcess sim(
        {"--device", "id=CAM,protocol=onvif,auth=token,clock_skew_s=-14400", "--device", "id=NVR"});
    const std::string endpoint = sim.DeviceById("CAM").Endpoint;
    EXPECT_EQ(endpoint.size(), 45u) << endpoint;  // "urn:uuid:" and a UUID
    EXPECT_EQ(endpoint.rfind("urn:uuid:", 0), 0u);
    EXPECT_EQ(sim.DeviceById("NVR").Endpoint, "");
    // The same after a restart of devsim: it is made from the id.
    DevsimProcess again({"--device", "id=CAM,protocol=onvif"});
    EXPECT_EQ(again.DeviceById("CAM").Endpoint, endpoint);
}

}  // namespace
