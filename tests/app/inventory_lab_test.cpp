// strelvane-cli inventory on a simulated site: the maker's devices with and without a
// newer image in the store, one without any image for its model, an ONVIF camera and a
// device whose log-in is refused each get their state; the HTML page opens with the
// summary.
#include <gtest/gtest.h>

#include <map>

#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "upgrade/cli_reports.h"
#include "upgrade/upload_images.h"

using namespace std::chrono_literals;

namespace {

class InventoryLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(InventoryLabTest, AMixedSiteGetsTheRightStates) {
    LabNetwork lab({.Devices = 5});
    TempDir store;
    store.Write("nvr_2.0.0.bin", StoredImage(MarkedImage(20000, "2.0.0")));
    store.Write("firmware.xml",
                "<?xml version=\"1.0\"?>\n<FirmwareList>\n<Firmware Series=\"NVR\" Checked=\"1\" "
                "ProductName=\"NVR-1600\" Model=\"NVR-1600\" HWVer=\"V1\" FWVer=\"2.0.0\" "
                "Filename=\"nvr_2.0.0.bin\" MD5=\"\" Size=\"20000\"/>\n</FirmwareList>\n");
    const std::string web = ",http_port=80,https_port=-1";
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=BEHIND,name=Behind,address=198.18.1.1,model=NVR-1600,firmware=1.0.0" + web, "--device",
         "id=CURRENT,name=Current,address=198.18.1.2,model=NVR-1600,firmware=2.0.0" + web,
         "--device",
         "id=NOIMAGE,name=NoImage,address=198.18.1.3,model=NVR-800,firmware=1.0.0" + web,
         "--device",
         "id=CAM,name=Camera,address=198.18.1.4,protocol=onvif,vendor=Acme,model=IPC-5,"
         "firmware=3.1.0,auth=digest" +
             web,
         "--device",
         "id=LOCKED,name=Locked,address=198.18.1.5,model=NVR-1600,firmware=1.0.0,password=other" +
             web},
        lab.InDevices());
    TempDir history;
    std::vector<std::string> command = lab.InTech();
    for (const std::string& word :
         {std::string(STRELVANE_CLI_PATH), std::string("inventory"), std::string("--format"),
          std::string("json"), std::string("--storage"), store.Path(), std::string("--history"),
          history.File("none.tsv")}) {
        command.push_back(word);
    }
    const ProcessResult result = RunProcess(command, 60s);
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    std::map<std::string, std::pair<std::string, std::string>> states;  // name: newest, state
    size_t start = 0;
    for (size_t end; (end = result.Output.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = result.Output.substr(start, end - start);
        states[Field(line, "DeviceName")] = {Field(line, "NewestInStore"), Field(line, "State")};
    }
    using State = std::pair<std::string, std::string>;
    EXPECT_EQ(states["Behind"], State("2.0.0", "newer available")) << result.Output;
    EXPECT_EQ(states["Current"], State("2.0.0", "up to date"));
    EXPECT_EQ(states["NoImage"], State("", "up to date"));
    EXPECT_EQ(states["Camera"], State("not known", "up to date"));
    EXPECT_EQ(states["Locked"], State("2.0.0", "not checked"));
    EXPECT_EQ(states.size(), 5u) << result.Output;

    command[command.size() - 5] = "html";
    const ProcessResult page = RunProcess(command, 60s);
    EXPECT_NE(page.Output.find(
                  "<p class=\"summary\">5 devices: 3 up to date, 1 with newer firmware, 1 not "
                  "checked</p>"),
              std::string::npos)
        << page.Output;
}

}  // namespace
