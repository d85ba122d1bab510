// The store carried on a stick, end to end: one "machine" (a private home) downloads
// from the firmware server and exports; another, in the lab's technician namespace where
// no server is reachable, imports into an empty store and upgrades a device from it.
#include <gtest/gtest.h>

#include <chrono>

#include "../upgrade/cli_reports.h"
#include "firmware_test_support.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

// A machine of its own: home, settings and default store in `home`.
std::vector<std::string> On(const TempDir& home, std::vector<std::string> command,
                            const std::vector<std::string>& words) {
    command.push_back("env");
    for (const char* name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        command.push_back(std::string(name) + "=" + home.Path());
    }
    command.push_back(STRELVANE_CLI_PATH);
    command.insert(command.end(), words.begin(), words.end());
    return command;
}

class StoreTransferLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
        ClearProxyEnvironment();
    }
};

TEST_F(StoreTransferLabTest, AStoreCarriedToASiteWithoutAServerUpgradesItsDevices) {
    // An image devsim's NVR installs: its mark, then the version it reads.
    const std::string image = "QRBA" + std::string("version=2.0.0\n") + PatternBytes(20000);
    CatalogRecord record = Record("NVR", "NVR-1600", "2.0.0", "nvr_2.0.0.bin", image, "NVR-1600");
    record.HWVer = "V1";
    TempDir served;
    served.Write("nvr_2.0.0.bin", image);
    served.Write("Firmware_V2.xml", ServerCatalogText({record}));

    TempDir office;
    TempDir officeStore;
    TempDir stick;
    FirmwareServerFixture server(served);
    const ProcessResult download = RunProcess(
        On(office, {},
           {"firmware", "download", "--server", server.Base(), "--storage", officeStore.Path()}),
        60s);
    ASSERT_EQ(download.ExitCode, 0) << download.Output;
    const ProcessResult exported = RunProcess(
        On(office, {}, {"firmware", "export", stick.Path(), "--storage", officeStore.Path()}), 30s);
    ASSERT_EQ(exported.ExitCode, 0) << exported.Output;
    EXPECT_EQ(stick.Read("nvr_2.0.0.bin"), image);

    LabNetwork lab({.Devices = 1});
    TempDir site;
    TempDir siteStore;
    // The server the office used is out of reach there.
    EXPECT_EQ(RunProcess(On(site, lab.InTech(),
                            {"firmware", "check", "--server", server.Base(), "--storage",
                             siteStore.Path()}),
                         30s)
                  .ExitCode,
              1);
    const ProcessResult imported = RunProcess(
        On(site, lab.InTech(), {"firmware", "import", stick.Path(), "--storage", siteStore.Path()}),
        30s);
    ASSERT_EQ(imported.ExitCode, 0) << imported.Output;
    EXPECT_EQ(Field(imported.Output, "outcome"), "taken") << imported.Output;

    DevsimProcess sim({"--discovery", "--device",
                       "id=OLD,address=198.18.1.1,firmware=1.0.0,model=NVR-1600,http_port=80,"
                       "https_port=-1,reboot_seconds=0"},
                      lab.InDevices());
    ChildProcess cli(
        On(site, lab.InTech(),
           {"upgrade", "--device", "OLD", "--storage", siteStore.Path(), "--time-scale", "30"}));
    const std::map<std::string, Report> finals = Finals(ReadReports(cli, 60s));
    EXPECT_EQ(cli.Wait(5s), 0);
    ASSERT_EQ(finals.count("OLD"), 1u);
    EXPECT_EQ(finals.at("OLD").Code, 0);
    EXPECT_EQ(finals.at("OLD").FirmwareVersion, "2.0.0");
}

}  // namespace
