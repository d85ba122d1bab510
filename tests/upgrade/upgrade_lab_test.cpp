// The whole upgrade, end to end, on a simulated LAN (scripts/lab): strelvane-cli in the
// technician's namespace searches, checks log-ins and upgrades seventeen simulated
// devices of both families with one image, under a fast clock.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <map>
#include <set>

#include "base/text.h"
#include "cli_reports.h"
#include "history/history_file.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

// A firmware store holding NVR-1600 images of these versions.
void WriteStore(TempDir& store, const std::vector<std::string>& versions) {
    std::string catalogue = "<?xml version=\"1.0\"?>\n<FirmwareList>\n";
    for (const std::string& version : versions) {
        store.Write("nvr_" + version + ".bin", StoredImage(MarkedImage(20000, version)));
        catalogue +=
            "<Firmware Series=\"NVR\" Checked=\"1\" ProductName=\"NVR-1600\" "
            "Model=\"NVR-1600\" HWVer=\"V1\" FWVer=\"" +
            version + "\" Filename=\"nvr_" + version + ".bin\" MD5=\"\" Size=\"20000\"/>\n";
    }
    store.Write("firmware.xml", catalogue + "</FirmwareList>\n");
}

bool IsWaiting(const Report& r) { return r.Stage == 0 && r.Seconds == 0 && r.Code == 0; }

class UpgradeLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(UpgradeLabTest, SeventeenDevicesOfBothFamiliesTakeOneImage) {
    LabNetwork lab({.Devices = 18});
    TempDir dir;
    // Kept as the firmware store keeps it: the "PLX-420S" upload skips the first four
    // bytes, the NVR upload the store's size header; both send the image from its mark.
    dir.Write("fw.bin", StoredImage(MarkedImage(300000, "2.0.0")));
    // Each device reads an upload for five seconds, so that they overlap.
    const std::string common =
        "model=NVR-1600,http_port=80,https_port=-1,firmware=1.0.0,reboot_seconds=1,"
        "fault=slow_upload:60000";
    DevsimProcess sim(
        {"--discovery",  //
         "--devices", "12", "id=NVR{n},address=198.18.1.{n}," + common,
         // Refuses the password at its log-in check: it is sent nothing, and the other
         // seventeen take the image.
         "--device", "id=NVR13,address=198.18.1.13,password=other,fault=delay:800," + common,
         "--device", "id=NVR16,address=198.18.1.18," + common, "--device",
         "id=NVR14,address=198.18.1.14,fault=reject_image," + common, "--device",
         "id=NVR15,address=198.18.1.15,fault=never_back," + common, "--devices", "2",
         "id=PLX{n},address=198.18.1.{n+15}," + common + ",model=PLX-420S"},
        lab.InDevices());

    std::vector<std::string> command = lab.InTech();
    for (const char* word : {STRELVANE_CLI_PATH, "upgrade", "--all", "--time-scale", "30"}) {
        command.push_back(word);
    }
    command.push_back("--file");
    command.push_back(dir.File("fw.bin"));
    const auto start = std::chrono::steady_clock::now();
    ChildProcess cli(command);
    const std::vector<Report> reports = ReadReports(cli, 90s);
    EXPECT_EQ(cli.Wait(5s), 1) << "some devices failed";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "upgrade of 18 devices (17 sent the image) took " << seconds << " s\n";

    // Every device ends once, with the code its faults call for.
    std::map<std::string, Report> finals;
    for (const Report& r : reports) {
        if (r.Stage != 32) continue;
        EXPECT_TRUE(finals.emplace(r.DeviceId, r).second) << r.DeviceId << " ended twice";
    }
    ASSERT_EQ(finals.size(), 18u);
    for (const auto& [id, final] : finals) {
        const int expected = id == "NVR13" ? -304 : id == "NVR14" ? -406 : id == "NVR15" ? -10 : 0;
        EXPECT_EQ(final.Code, expected) << id;
    }
    EXPECT_EQ(finals["NVR13"].Text, "Failed! Please check the username and password.");
    EXPECT_EQ(finals["NVR14"].Text, "Failed! Please check the firmware file.");
    EXPECT_EQ(finals["NVR15"].Text, "Failed! Please check the network connection.");
    EXPECT_EQ(finals["PLX1"].Text, "Firmware upgrade successful.");
    // No line before the final one claims success, beside a failure code or not.
    for (const Report& r : reports) {
        if (r.Stage == 32) continue;
        EXPECT_EQ(r.Text.find("successful"), std::string::npos) << r.DeviceId << " " << r.Stage;
    }

    // One device was queued: its first report says "Waiting" (a "PLX-420S" worker opens
    // with that report itself, so a queued one says it twice); it starts only after
    // another device's report gave up a place.
    std::map<std::string, std::vector<size_t>> linesOf;
    for (size_t i = 0; i < reports.size(); ++i) linesOf[reports[i].DeviceId].push_back(i);
    std::vector<std::string> queued;
    EXPECT_EQ(linesOf["NVR13"].size(), 1u) << "only its final line";
    linesOf.erase("NVR13");
    for (const auto& [id, lines] : linesOf) {
        const bool plx = StartsWith(id, "PLX");
        ASSERT_GE(lines.size(), 2u) << id;
        if (IsWaiting(reports[lines[0]]) && (!plx || IsWaiting(reports[lines[1]]))) {
            queued.push_back(id);
        }
    }
    ASSERT_EQ(queued.size(), 1u);
    const size_t started = linesOf[queued[0]][1];
    bool placeFreed = false;
    for (size_t i = 0; i < started; ++i) {
        const Report& r = reports[i];
        placeFreed = placeFreed || (r.DeviceId != queued[0] && (r.Stage == 2 || r.Stage == 32));
    }
    EXPECT_TRUE(placeFreed) << queued[0] << " started before a place was free";

    // The devices saw at most sixteen uploads at once, and sixteen did run at once.
    int running = 0;
    int most = 0;
    while (auto line = sim.Process().ReadLine(200ms)) {
        if (StartsWith(*line, "upload-start ")) most = std::max(most, ++running);
        if (StartsWith(*line, "upload ")) --running;
    }
    EXPECT_EQ(most, 16);

    // A new search shows the new version on every device that took it.
    std::vector<std::string> search = lab.InTech();
    for (const char* word : {STRELVANE_CLI_PATH, "search", "--password", "vqmtz"}) {
        search.push_back(word);
    }
    const ProcessResult found = RunProcess(search, 30s);
    ASSERT_EQ(found.ExitCode, 0);
    std::map<std::string, std::string> versions;
    for (const std::string& line : SplitAny(found.Output, "\n")) {
        versions[Field(line, "DeviceId")] = Field(line, "FirmwareVersion");
    }
    for (const auto& [id, final] : finals) {
        if (id == "NVR15") {
            EXPECT_EQ(versions.count(id), 0u) << "never came back";
        } else if (id == "NVR13") {
            EXPECT_EQ(versions[id], "") << "the password is refused";
        } else {
            EXPECT_EQ(versions[id], id == "NVR14" ? "1.0.0" : "2.0.0") << id;
        }
    }
}

// Devices go on answering their pages and the search for a while after they took the
// image, as real ones do while they write their flash. Only one that then restarts and
// comes back is upgraded; its final line names the version it runs now.
TEST_F(UpgradeLabTest, OnlyDevicesThatRestartAndComeBackAreUpgraded) {
    LabNetwork lab({.Devices = 4});
    TempDir dir;
    dir.Write("fw.bin", StoredImage(MarkedImage(20000, "2.0.0")));
    const std::string common =
        "http_port=80,https_port=-1,firmware=1.0.0,restart_delay_ms=1500,reboot_seconds=2";
    DevsimProcess sim(
        {"--discovery",  //
         "--device", "id=NVRGONE,address=198.18.1.1,model=NVR-1600,fault=never_back," + common,
         "--device", "id=NVRBACK,address=198.18.1.2,model=NVR-1600," + common,  //
         "--device", "id=PLXGONE,address=198.18.1.3,model=PLX-420S,fault=never_back," + common,
         "--device", "id=PLXBACK,address=198.18.1.4,model=PLX-420S," + common},
        lab.InDevices());
    ChildProcess cli(
        UpgradeCommand(lab, {"--all", "--time-scale", "30", "--file", dir.File("fw.bin")}));
    std::map<std::string, Report> finals = Finals(ReadReports(cli, 60s));
    EXPECT_EQ(cli.Wait(5s), 1);
    ASSERT_EQ(finals.size(), 4u);
    for (const char* id : {"NVRGONE", "PLXGONE"}) {
        EXPECT_EQ(finals[id].Code, -10) << id;
        EXPECT_EQ(finals[id].FirmwareVersion, "") << id;
    }
    for (const char* id : {"NVRBACK", "PLXBACK"}) {
        EXPECT_EQ(finals[id].Code, 0) << id;
        EXPECT_EQ(finals[id].FirmwareVersion, "2.0.0") << id;
    }
}

// The maker's devices and ONVIF cameras of another maker in one run: each camera gets
// its own maker's image, and each ends with the text its behaviour calls for.
TEST_F(UpgradeLabTest, MakersDevicesAndOnvifCamerasUpgradeInOneRun) {
    LabNetwork lab({.Devices = 7});
    TempDir dir;
    dir.Write("fw.bin", StoredImage(MarkedImage(20000, "2.0.0")));
    dir.Write("cam.bin", "IPCMversion=3.2.0\n" + PatternBytes(50000));
    const std::string nvr =
        "model=NVR-1600,http_port=80,https_port=-1,firmware=1.0.0,reboot_seconds=1";
    const std::string camera =
        "protocol=onvif,vendor=Acme,model=IPC-5,http_port=80,https_port=-1,firmware=3.1.0,"
        "reboot_seconds=1,restart_delay_ms=500,upload_delay=PT1S,image_mark=IPCM";
    DevsimProcess sim(
        {"--discovery",  //
         "--device", "id=NVR1,address=198.18.1.1," + nvr, "--device",
         "id=NVR2,address=198.18.1.2," + nvr, "--device",
         "id=CAMDIGEST,address=198.18.1.3,auth=digest," + camera, "--device",
         "id=CAMSKEWED,address=198.18.1.4,auth=token,clock_skew_s=14400," + camera,
         // Another maker's camera among them: this image is not one of its own.
         "--device", "id=CAMOTHER,address=198.18.1.5,auth=digest," + camera + ",image_mark=ACME",
         "--device", "id=CAMGONE,address=198.18.1.6,auth=token,fault=never_back," + camera,
         "--device", "id=CAMOLD,address=198.18.1.7,auth=digest,fault=reboot_old_version," + camera},
        lab.InDevices());
    std::map<std::string, std::string> names;  // the cameras are known by their endpoints
    for (const DevsimProcess::Device& d : sim.Devices())
        names[d.Endpoint.empty() ? d.Id : d.Endpoint] = d.Id;

    ChildProcess cli(
        UpgradeCommand(lab, {"--all", "--time-scale", "10", "--file", dir.File("fw.bin"),
                             "--camera-file", dir.File("cam.bin")}));
    std::map<std::string, Report> finals;
    for (const auto& [id, final] : Finals(ReadReports(cli, 120s))) finals[names[id]] = final;
    EXPECT_EQ(cli.Wait(5s), 1) << "some devices failed";
    ASSERT_EQ(finals.size(), 7u);
    const struct {
        const char* Id;
        int Code;
        const char* Text;
        const char* Version;
    } expected[] = {
        {"NVR1", 0, "Firmware upgrade successful.", "2.0.0"},
        {"NVR2", 0, "Firmware upgrade successful.", "2.0.0"},
        {"CAMDIGEST", 0, "Firmware upgrade successful.", "3.2.0"},
        {"CAMSKEWED", 0, "Firmware upgrade successful.", "3.2.0"},
        {"CAMOTHER", -406, "Failed! Please check the firmware file.", ""},
        {"CAMGONE", -10, "Failed! Please check the network connection.", ""},
        {"CAMOLD", -408, "Failed! The device still runs the old firmware.", "3.1.0"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.Id);
        EXPECT_EQ(finals[e.Id].Code, e.Code);
        EXPECT_EQ(finals[e.Id].Text, e.Text);
        EXPECT_EQ(finals[e.Id].FirmwareVersion, e.Version);
    }
    // Each kind of device got its own image.
    std::map<std::string, std::string> marks;
    while (auto line = sim.Process().ReadLine(200ms)) {
        if (StartsWith(*line, "upload "))
            marks[KeyValueFields(*line)["device"]] = KeyValueFields(*line)["mark"];
    }
    EXPECT_EQ(marks["NVR1"], "QRBA");
    EXPECT_EQ(marks["CAMDIGEST"], "IPCM");
    EXPECT_EQ(marks["CAMOTHER"], "IPCM");
}

// Once the camera restarted, another device answers at its address and names another
// MAC, with the version the image carried: it is not the camera back, and the run does
// not call the camera upgraded.
TEST_F(UpgradeLabTest, AnImpostorAtTheCamerasAddressIsNoReturn) {
    LabNetwork lab({.Devices = 1});
    TempDir dir;
    dir.Write("cam.bin", "IPCMversion=3.2.0\n" + PatternBytes(20000));
    DevsimProcess sim({"--discovery", "--device",
                       "id=CAM,address=198.18.1.1,mac=00:1A:2B:00:07:01,protocol=onvif,"
                       "vendor=Acme,model=IPC-5,"
                       "http_port=80,https_port=-1,firmware=3.1.0,reboot_seconds=1,"
                       "image_mark=IPCM,auth=digest,fault=onvif_impostor_after_restart"},
                      lab.InDevices());
    ChildProcess cli(
        UpgradeCommand(lab, {"--all", "--time-scale", "60", "--camera-file", dir.File("cam.bin")}));
    const std::map<std::string, Report> finals = Finals(ReadReports(cli, 120s));
    EXPECT_EQ(cli.Wait(5s), 1);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals.begin()->second.Code, -10);
    EXPECT_EQ(finals.begin()->second.Text, "Failed! Please check the network connection.");
}

// SIGINT while one device's upload stands still and another's countdown runs: both end
// at once with -6, and the command exits.
TEST_F(UpgradeLabTest, InterruptStopsEveryUpgrade) {
    LabNetwork lab({.Devices = 2});
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(4 << 20, "2.0.0"));
    DevsimProcess sim({"--discovery", "--device",
                       "id=STALL,address=198.18.1.1,http_port=80,https_port=-1,"
                       "fault=stall_mid_upload",
                       "--device", "id=WAIT,address=198.18.1.2,http_port=80,https_port=-1"},
                      lab.InDevices());
    // The devices it leaves in flight are this test's: no later command looks for them.
    std::vector<std::string> command = {"env", "XDG_STATE_HOME=" + dir.Path()};
    for (const std::string& word : lab.InTech()) command.push_back(word);
    for (const std::string& word :
         {std::string(STRELVANE_CLI_PATH), std::string("upgrade"), std::string("--all"),
          std::string("--file"), dir.File("fw.bin")}) {
        command.push_back(word);
    }
    ChildProcess cli(command);
    bool counting = false;
    bool uploading = false;
    while (!(counting && uploading)) {
        auto line = cli.ReadLine(20s);
        ASSERT_TRUE(line) << "the upgrades did not get going";
        counting = counting || (Field(*line, "DeviceId") == "WAIT" && Field(*line, "stage") == "0");
        uploading =
            uploading || (Field(*line, "DeviceId") == "STALL" && Field(*line, "stage") == "3");
    }
    const auto start = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    const std::vector<Report> reports = ReadReports(cli, 10s);
    EXPECT_EQ(cli.Wait(5s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    std::map<std::string, int> finals;
    for (const Report& r : reports) {
        if (r.Stage == 32) finals[r.DeviceId] = r.Code;
    }
    // Both were past the start of their upload: not confirmed, not a network failure.
    EXPECT_EQ(finals, (std::map<std::string, int>{{"STALL", -11}, {"WAIT", -11}}));
}

// Without --file the images come from the firmware store: a device gets the stored
// images newer than its firmware (the NVR installs the first of them), a device already
// on the newest ends as "The latest firmware".
TEST_F(UpgradeLabTest, ImagesComeFromTheFirmwareStore) {
    LabNetwork lab({.Devices = 3});
    TempDir store;
    WriteStore(store, {"1.5.0", "2.0.0"});
    const std::string common = "model=NVR-1600,http_port=80,https_port=-1,reboot_seconds=0";
    DevsimProcess sim(
        {"--discovery", "--device", "id=OLD,address=198.18.1.1,firmware=1.0.0," + common,
         "--device", "id=NEW,address=198.18.1.2,firmware=2.0.0," + common,
         // Restarts, but comes back with the version it ran before.
         "--device",
         "id=STUCK,address=198.18.1.3,firmware=1.0.0,model=NVR-1600,http_port=80,https_port=-1,"
         "restart_delay_ms=1000,reboot_seconds=5,fault=reboot_old_version"},
        lab.InDevices());

    std::vector<std::string> command = lab.InTech();
    for (const std::string& word :
         {std::string(STRELVANE_CLI_PATH), std::string("upgrade"), std::string("--device"),
          std::string("OLD"), std::string("--device"), std::string("NEW"), std::string("--device"),
          std::string("STUCK"), std::string("--storage"), store.Path(), std::string("--time-scale"),
          std::string("30")}) {
        command.push_back(word);
    }
    ChildProcess cli(command);
    const std::vector<Report> reports = ReadReports(cli, 60s);
    EXPECT_EQ(cli.Wait(5s), 1) << "STUCK failed";
    std::map<std::string, Report> finals = Finals(reports);
    EXPECT_EQ(finals["OLD"].Code, 0);
    EXPECT_EQ(finals["OLD"].FirmwareVersion, "1.5.0");
    EXPECT_EQ(finals["NEW"].Code, -503);
    EXPECT_EQ(finals["NEW"].Text, "The latest firmware");
    EXPECT_EQ(finals["NEW"].FirmwareVersion, "2.0.0");
    EXPECT_EQ(finals["STUCK"].Code, -408);
    EXPECT_EQ(finals["STUCK"].Text, "Failed! The device still runs the old firmware.");
    EXPECT_EQ(finals["STUCK"].FirmwareVersion, "1.0.0");
    std::string upload;
    while (auto line = sim.Process().ReadLine(200ms)) {
        if (StartsWith(*line, "upload ")) upload += *line + "\n";
    }
    EXPECT_NE(upload.find("device=OLD"), std::string::npos) << upload;
    EXPECT_NE(upload.find("version=1.5.0 verdict=accepted"), std::string::npos) << upload;
    EXPECT_EQ(upload.find("device=NEW"), std::string::npos) << upload;
}

// Upgraded and already up to date both count as done: the command exits 0 and its
// closing summary says which.
TEST_F(UpgradeLabTest, UpgradedAndUpToDateDevicesEndTheCommandWell) {
    LabNetwork lab({.Devices = 2});
    TempDir store;
    WriteStore(store, {"2.0.0"});
    const std::string common = "model=NVR-1600,http_port=80,https_port=-1,reboot_seconds=0";
    DevsimProcess sim(
        {"--discovery", "--device", "id=OLD,address=198.18.1.1,firmware=1.0.0," + common,
         "--device", "id=NEW,address=198.18.1.2,firmware=2.0.0," + common},
        lab.InDevices());
    std::vector<std::string> command = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    for (const std::string& word :
         UpgradeCommand(lab, {"--all", "--storage", store.Path(), "--time-scale", "100"})) {
        command.push_back(word);
    }
    const ProcessResult result = RunProcess(command, 60s);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_NE(
        result.Output.find("upgrade: 1 upgraded, 1 already up to date, 0 failed, 0 not found\n"),
        std::string::npos)
        << result.Output;
}

}  // namespace

namespace {

// Devices that multicast does not reach are listed and upgraded by their address.
TEST_F(UpgradeLabTest, DevicesEnteredByAddressAreListedAndUpgraded) {
    LabNetwork lab({.Devices = 2});
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(50000, "2.0.0"));
    // No discovery: neither device answers a search.
    DevsimProcess sim(
        {"--device",
         "id=A,address=198.18.1.1,http_port=8080,https_port=-1,mac=00:1C:A1:00:00:01,"
         "host_name=lobby,firmware=1.0.0,reboot_seconds=1",
         "--device", "id=B,address=198.18.1.2,http_port=80,https_port=-1,mac=00:1c:a1:00:00:01"},
        lab.InDevices());
    const auto run = [&](std::vector<std::string> args) {
        std::vector<std::string> command = lab.InTech();
        command.push_back(STRELVANE_CLI_PATH);
        command.insert(command.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(command);
    };

    // The second address answers with the first one's MAC: it is refused.
    auto search = run({"search", "--address", "198.18.1.1:8080", "--address", "198.18.1.2"});
    std::vector<std::string> lines;
    while (auto line = search->ReadLine(10s)) lines.push_back(*line);
    EXPECT_EQ(search->Wait(5s), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Field(lines[0], "DeviceId"), "00:1C:A1:00:00:01");
    EXPECT_EQ(Field(lines[0], "DeviceName"), "lobby");
    EXPECT_EQ(Field(lines[0], "HttpPort"), "8080");

    auto upgrade = run({"upgrade", "--address", "198.18.1.1:8080", "--device", "00:1C:A1:00:00:01",
                        "--time-scale", "30", "--file", dir.File("fw.bin")});
    const std::vector<Report> reports = ReadReports(*upgrade, 60s);
    EXPECT_EQ(upgrade->Wait(5s), 0);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().Stage, 32);
    EXPECT_EQ(reports.back().Code, 0);
}

// Devices that take a new address when they restart (a DHCP lease): one found by the
// search, one entered by address (its search record is keyed otherwise, so it is
// recognised by its MAC). Both end successful, at their new addresses, which the history
// keeps; neither ends -10 as it did when only the old address was watched.
TEST_F(UpgradeLabTest, DevicesBackAtAnotherAddressEndSuccessfulThere) {
    LabNetwork lab({.Devices = 4});
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(20000, "2.0.0"));
    const std::string common =
        "model=NVR-1600,http_port=80,https_port=-1,firmware=1.0.0,restart_delay_ms=1000,"
        "reboot_seconds=2";
    DevsimProcess sim(
        {"--discovery",  //
         "--device",
         "id=MOVED,address=198.18.1.1,mac=00:1C:A1:00:02:01,fault=reboot_address:198.18.1.3," +
             common,
         "--device",
         "id=HANDHELD,address=198.18.1.2,mac=00:1C:A1:00:02:02,fault=reboot_address:198.18.1.4," +
             common},
        lab.InDevices());
    std::vector<std::string> command = {"env", "XDG_STATE_HOME=" + dir.Path()};
    for (const std::string& word : UpgradeCommand(
             lab, {"--device", "MOVED", "--device", "00:1C:A1:00:02:02", "--address", "198.18.1.2",
                   "--interface", "eth0", "--time-scale", "30", "--file", dir.File("fw.bin")})) {
        command.push_back(word);
    }
    ChildProcess cli(command);
    std::map<std::string, Report> finals = Finals(ReadReports(cli, 90s));
    EXPECT_EQ(cli.Wait(5s), 0);
    ASSERT_EQ(finals.size(), 2u);
    for (const auto& [id, final] : finals) {
        EXPECT_EQ(final.Code, 0) << id;
        EXPECT_EQ(final.FirmwareVersion, "2.0.0") << id;
    }
    EXPECT_EQ(finals["MOVED"].HostAddress, "198.18.1.3");
    EXPECT_EQ(finals["00:1C:A1:00:02:02"].HostAddress, "198.18.1.4");
    std::map<std::string, std::string> addresses;
    for (const UpgradeHistoryRecord& r : ReadHistory(dir.File("strelvane/history.tsv"))) {
        addresses[r.DeviceId] = r.Address;
        EXPECT_EQ(r.Code, 0) << r.DeviceId;
    }
    EXPECT_EQ(addresses, (std::map<std::string, std::string>{
                             {"MOVED", "198.18.1.3:80"}, {"00:1C:A1:00:02:02", "198.18.1.4:80"}}));
}

// A run cut short while its device restarts (a signal, or a crash) leaves the device
// "not confirmed" rather than failed for the network; the next `report` looks at it once
// and, the device being back with its new firmware, shows it upgraded.
TEST_F(UpgradeLabTest, ARunCutShortIsAmendedByTheNextStart) {
    LabNetwork lab({.Devices = 1});
    TempDir image;
    image.Write("fw.bin", MarkedImage(20000, "2.0.0"));
    for (const int signal : {SIGTERM, SIGKILL}) {
        TempDir state;
        DevsimProcess sim({"--discovery", "--device",
                           "id=SLOW,address=198.18.1.1,mac=00:1C:A1:00:03:01,model=NVR-1600,"
                           "http_port=80,https_port=-1,firmware=1.0.0,restart_delay_ms=3000,"
                           "reboot_seconds=2"},
                          lab.InDevices());
        std::vector<std::string> command = {"env", "XDG_STATE_HOME=" + state.Path()};
        for (const std::string& word : UpgradeCommand(
                 lab, {"--all", "--interface", "eth0", "--file", image.File("fw.bin")})) {
            command.push_back(word);
        }
        ChildProcess cli(command);
        bool counting = false;
        while (!counting) {
            auto line = cli.ReadLine(30s);
            ASSERT_TRUE(line) << "the reboot wait did not begin";
            counting = Field(*line, "stage") == "0" && Field(*line, "seconds") != "0";
        }
        cli.Signal(signal);
        if (signal == SIGTERM) {
            const std::map<std::string, Report> finals = Finals(ReadReports(cli, 10s));
            ASSERT_EQ(finals.count("SLOW"), 1u);
            EXPECT_EQ(finals.at("SLOW").Code, -11);
            EXPECT_EQ(finals.at("SLOW").Text,
                      "Not confirmed: the run ended before the device was seen back.");
        }
        cli.Wait(5s);
        const std::string history = state.File("strelvane/history.tsv");
        if (signal == SIGTERM) {
            const std::vector<UpgradeHistoryRecord> left = ReadHistory(history);
            ASSERT_EQ(left.size(), 1u);
            EXPECT_EQ(left[0].Code, -11);
        } else {
            EXPECT_TRUE(ReadHistory(history).empty()) << "a crash writes nothing";
        }
        ASSERT_FALSE(sim.NextLineWith("device id=SLOW back", 20s).empty());

        std::vector<std::string> report = {"env", "XDG_STATE_HOME=" + state.Path()};
        for (const std::string& word : lab.InTech()) report.push_back(word);
        report.push_back(STRELVANE_CLI_PATH);
        report.push_back("report");
        const ProcessResult first = RunProcess(report, 30s);
        EXPECT_EQ(first.ExitCode, 0) << first.Output;
        EXPECT_NE(first.Output.find(",upgraded,601,"), std::string::npos) << first.Output;
        const std::vector<UpgradeHistoryRecord> records = ReadHistory(history);
        ASSERT_EQ(records.size(), 2u) << "not confirmed, then the amendment";
        EXPECT_EQ(records[0].Code, -11);
        const std::vector<UpgradeHistoryRecord> shown = AmendLateReturns(records);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Code, 601) << signal;
        EXPECT_EQ(shown[0].VersionBefore, "1.0.0");
        EXPECT_EQ(shown[0].VersionAfter, "2.0.0");
        EXPECT_EQ(shown[0].ImageFile, "fw.bin");
        // Looked at once: the next report finds nothing more to look at.
        EXPECT_EQ(RunProcess(report, 30s).ExitCode, 0);
        EXPECT_EQ(ReadHistory(history).size(), 2u);
    }
}

}  // namespace
