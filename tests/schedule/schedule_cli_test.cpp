// strelvane-cli schedule: what add stores and refuses, and full runs against simulated
// devices, including one interrupted by a signal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <map>

#include "app/cli/schedule_command.h"
#include "app/cli/schedule_time_text.h"
#include "base/result_codes.h"
#include "history/history_file.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_info.h"
#include "schedule_test_support.h"
#include "support/child_process.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "upgrade/upload_images.h"

namespace {

using namespace std::chrono_literals;
namespace st = schedule_status;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The last "status" each MAC had in the JSON lines of `output`.
std::map<std::string, int> LastStatuses(const std::string& output) {
    std::map<std::string, int> last;
    size_t at = 0;
    while ((at = output.find("{\"MAC\":\"", at)) != std::string::npos) {
        const size_t macEnd = output.find('"', at + 8);
        const size_t status = output.find("\"status\":", macEnd);
        last[output.substr(at + 8, macEnd - at - 8)] = std::atoi(output.c_str() + status + 9);
        at = macEnd;
    }
    return last;
}

class ScheduleCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        // The trace log and the default schedule file stay in the sandbox.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "HOME"}) {
            ::setenv(name, home_.Path().c_str(), 1);
        }
        home_.Write("image.bin", MarkedImage(200000, "2.1.0"));
    }

    std::vector<std::string> Command(const std::string& action,
                                     const std::vector<std::string>& options) const {
        std::vector<std::string> argv = {STRELVANE_CLI_PATH, "schedule", action, "--file", File()};
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
    }

    // Adds an entry for devsim's device `device`, due at once; for an ONVIF camera with
    // its service's path and its own image.
    void Add(const DevsimProcess& sim, const std::string& device, const std::string& mac,
             const std::string& onvifService = {}, const std::string& image = "image.bin") const {
        std::vector<std::string> options = {
            "--ip",       "127.0.0.1",
            "--port",     std::to_string(sim.DeviceById(device).HttpPort),
            "--user",     "admin",
            "--password", "vqmtz",
            "--mac",      mac,
            "--device",   device,
            "--model",    "NVR",
            "--version",  "1.0",
            "--image",    home_.File(image),
            "--time",     "+1"};
        if (!onvifService.empty()) {
            options.push_back("--onvif-service");
            options.push_back(onvifService);
        }
        const ProcessResult added = RunProcess(Command("add", options), 10s);
        ASSERT_EQ(added.ExitCode, 0) << added.Output;
    }

    // Runs the command in this process (it reads no signals but run's); its exit code.
    static int InProcess(const std::vector<std::string>& args) { return RunScheduleCommand(args); }

    std::string File() const { return home_.File("fw_config.xml"); }

    TempDir home_;
};

TEST_F(ScheduleCliTest, RunsEachEntryToAnHonestEnd) {
    DevsimProcess sim({"--device", "id=ok,reboot_seconds=1,mac=00:00:5E:00:00:01",  //
                       "--device", "id=other,mac=00:00:5E:00:00:99",                //
                       // Answers for two seconds after the image, then is gone for good.
                       "--device",
                       "id=gone,restart_delay_ms=2000,reboot_seconds=0,fault=never_back,"
                       "mac=00:00:5E:00:00:03"});
    Add(sim, "ok", "00:00:5E:00:00:01");

    // One device alone: it succeeds, and so does the run.
    ProcessResult run = RunProcess(Command("run", {"--time-scale", "50"}), 30s);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_EQ(LastStatuses(run.Output), (std::map<std::string, int>{{"00:00:5E:00:00:01", 5}}))
        << run.Output;
    EXPECT_TRUE(Has(run.Output,
                    "\"status\":3,\"text\":\"Uploading file... Please wait a few "
                    "minutes. (0%)\",\"percent\":0"))
        << run.Output;

    // Another device at the scheduled address, and a device that never comes back. The
    // finished entry is not run again.
    Add(sim, "other", "00:00:5E:00:00:02");
    Add(sim, "gone", "00:00:5E:00:00:03");
    run = RunProcess(Command("run", {"--time-scale", "50"}), 60s);
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_EQ(LastStatuses(run.Output),
              (std::map<std::string, int>{{"00:00:5E:00:00:02", 8}, {"00:00:5E:00:00:03", 8}}))
        << run.Output;
    EXPECT_TRUE(Has(run.Output,
                    "\"status\":8,\"text\":\"Failed! Please check the network "
                    "connection.\""));

    std::vector<int> saved;
    std::vector<std::string> versions;
    for (const CScheduleInfo& e : LoadSchedule(File())) {
        saved.push_back(e.Status);
        versions.push_back(e.Version);
    }
    EXPECT_EQ(saved, (std::vector<int>{st::kSuccessful, st::kOtherFailed, st::kOtherFailed}));
    // Each entry keeps the version it was planned with (the history has the new one).
    EXPECT_EQ(versions, (std::vector<std::string>{"1.0", "1.0", "1.0"}));

    const std::string log = OutputSoFar(sim);
    EXPECT_TRUE(Has(log, "upload device=ok")) << log;
    EXPECT_TRUE(Has(log, "device id=ok back address=127.0.0.1")) << log;
    EXPECT_TRUE(Has(log, "firmware=2.1.0")) << log;
    EXPECT_TRUE(Has(log, "upload device=gone")) << log;
    EXPECT_FALSE(Has(log, "upload device=other")) << log;
    EXPECT_FALSE(Has(log, "device id=gone back")) << log;
}

TEST_F(ScheduleCliTest, ARunKeepsTheFileOrderAndEachPlannedVersion) {
    // Out of MAC order, each missed an hour ago: the run rewrites every one of them.
    const int64_t missed = std::time(nullptr) - 3600;
    std::vector<CScheduleInfo> planned;
    for (const char* mac : {"00:00:5E:00:00:09", "00:00:5E:00:00:01", "00:00:5E:00:00:05"}) {
        planned.push_back(StoredEntry(mac, missed, st::kWaiting));
        planned.back().FWPath = home_.File("image.bin");
        planned.back().Version = std::string("v-") + mac;
    }
    ASSERT_TRUE(SaveSchedule(File(), planned));
    const ProcessResult run = RunProcess(Command("run", {"--time-scale", "50"}), 30s);
    EXPECT_EQ(run.ExitCode, 1) << run.Output;  // missed
    const std::vector<CScheduleInfo> saved = LoadSchedule(File());
    ASSERT_EQ(saved.size(), planned.size());
    for (size_t i = 0; i < saved.size(); ++i) {
        EXPECT_EQ(saved[i].MAC, planned[i].MAC) << i;
        EXPECT_EQ(saved[i].Version, planned[i].Version) << i;
        EXPECT_EQ(saved[i].Status, st::kNone) << i;
    }
}

// Scheduled upgrades of ONVIF cameras: each must name the scheduled MAC, take its own
// maker's image, and come back naming another version.
TEST_F(ScheduleCliTest, RunsOnvifCamerasThroughTheirDeviceService) {
    home_.Write("camera.bin", "IPCMversion=3.2.0\n" + PatternBytes(100000));
    const std::string camera =
        "protocol=onvif,reboot_seconds=1,https_port=-1,firmware=3.1.0,image_mark=IPCM,"
        "upload_delay=PT1S";
    DevsimProcess sim(
        {"--device", "id=ok,auth=token,clock_skew_s=14400,mac=00:00:5E:00:01:01," + camera,
         "--device", "id=other,auth=digest,mac=00:00:5E:00:01:99," + camera, "--device",
         "id=old,auth=digest,fault=reboot_old_version,mac=00:00:5E:00:01:03," + camera, "--device",
         "id=acme,auth=digest,mac=00:00:5E:00:01:04," + camera + ",image_mark=ACME"});
    const std::string service = "/onvif/device_service";
    Add(sim, "ok", "00:00:5e:00:01:01", service, "camera.bin");
    Add(sim, "other", "00:00:5E:00:01:02", service, "camera.bin");
    Add(sim, "old", "00:00:5E:00:01:03", service, "camera.bin");
    Add(sim, "acme", "00:00:5E:00:01:04", service, "camera.bin");
    const ProcessResult listed = RunProcess(Command("list", {}), 10s);
    EXPECT_TRUE(Has(listed.Output, "\"OnvifService\":\"/onvif/device_service\"")) << listed.Output;

    // Two minutes of margin after a camera's one-second restart: six real seconds.
    const ProcessResult run = RunProcess(Command("run", {"--time-scale", "20"}), 60s);
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_EQ(LastStatuses(run.Output),
              (std::map<std::string, int>{{"00:00:5e:00:01:01", st::kSuccessful},
                                          {"00:00:5E:00:01:02", st::kOtherFailed},
                                          {"00:00:5E:00:01:03", st::kOtherFailed},
                                          {"00:00:5E:00:01:04", st::kImageFailed}}))
        << run.Output;
    for (const CScheduleInfo& e : LoadSchedule(File())) {
        EXPECT_EQ(e.OnvifService, "/onvif/device_service");
    }
    const std::string log = OutputSoFar(sim);
    EXPECT_FALSE(Has(log, "upload device=other")) << log;
    EXPECT_TRUE(Has(log, "upload device=acme")) << log;
    EXPECT_TRUE(Has(log, "verdict=rejected")) << log;
}

// A scheduled device that restarts onto a new address (a DHCP lease) is searched for on
// the adapter named, found there by its MAC, and ends successful at that address.
TEST_F(ScheduleCliTest, ADeviceBackAtANewAddressIsFoundThereBySearch) {
    if (const std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    LabNetwork lab({.Devices = 4});
    const std::string mac = "00:1C:A1:00:03:01";
    DevsimProcess sim({"--discovery", "--device",
                       "id=MOVED,address=198.18.1.1,mac=" + mac +
                           ",fault=reboot_address:198.18.1.3,model=NVR-1600,http_port=80,"
                           "https_port=-1,firmware=1.0.0,restart_delay_ms=1000,reboot_seconds=2"},
                      lab.InDevices());
    const ProcessResult added = RunProcess(
        Command(
            "add",
            {"--ip",       "198.18.1.1", "--port",    "80",    "--user",   "admin",
             "--password", "vqmtz",      "--mac",     mac,     "--device", "MOVED",
             "--model",    "NVR-1600",   "--version", "1.0.0", "--image",  home_.File("image.bin"),
             "--time",     "+1"}),
        10s);
    ASSERT_EQ(added.ExitCode, 0) << added.Output;
    std::vector<std::string> run = lab.InTech();
    for (const std::string& word : Command("run", {"--time-scale", "30", "--interface", "eth0"})) {
        run.push_back(word);
    }
    const ProcessResult ran = RunProcess(run, 120s);
    EXPECT_EQ(ran.ExitCode, 0) << ran.Output;
    EXPECT_EQ(LastStatuses(ran.Output), (std::map<std::string, int>{{mac, st::kSuccessful}}))
        << ran.Output;
    const std::vector<CScheduleInfo> saved = LoadSchedule(File());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].IP, "198.18.1.3");
}

TEST_F(ScheduleCliTest, ASignalStopsTheRunAndTheFileSaysUpgrading) {
    DevsimProcess sim(
        {"--device", "id=gone,reboot_seconds=0,fault=never_back,mac=00:00:5E:00:00:03"});
    Add(sim, "gone", "00:00:5E:00:00:03");
    // At the real pace the run sits in the 10-second pause after the upload.
    ChildProcess cli(Command("run", {}));
    bool uploaded = false;
    while (auto line = cli.ReadLine(10s)) {
        uploaded = uploaded || Has(*line, "\"status\":3");
        if (uploaded && Has(*line, "\"status\":4")) break;
    }
    ASSERT_TRUE(uploaded);
    const auto asked = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    const std::optional<int> code = cli.Wait(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(Has(cli.ReadRest(1s), "\"status\":4,\"text\":\"Upgrading\""));
    ASSERT_EQ(LoadSchedule(File()).size(), 1u);
    EXPECT_EQ(LoadSchedule(File())[0].Status, st::kUpgrading);
}

// A run a signal cut short while its device restarted is not confirmed; the next run
// ends it so in the history, looks at the device once and, it being back with its new
// firmware, amends it to upgraded.
TEST_F(ScheduleCliTest, ARunCutShortIsAmendedByTheNextRun) {
    DevsimProcess sim({"--device", "id=slow,reboot_seconds=1,mac=00:00:5E:00:00:04"});
    Add(sim, "slow", "00:00:5E:00:00:04");
    ChildProcess cli(Command("run", {}));
    bool uploaded = false;
    while (auto line = cli.ReadLine(10s)) {
        uploaded = uploaded || Has(*line, "\"status\":3");
        if (uploaded && Has(*line, "\"status\":4")) break;
    }
    ASSERT_TRUE(uploaded);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5s), 1);
    ASSERT_FALSE(sim.NextLineWith("device id=slow back", 20s).empty());

    RunProcess(Command("run", {}), 30s);
    EXPECT_EQ(LoadSchedule(File()).at(0).Status, st::kOtherFailed);
    const std::vector<UpgradeHistoryRecord> records =
        ReadHistory(home_.File("strelvane/history.tsv"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Code, rc::kNotConfirmed);
    EXPECT_EQ(records[0].ResultText,
              "Not confirmed: the run ended before the device was seen back.");
    const std::vector<UpgradeHistoryRecord> shown = AmendLateReturns(records);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Code, rc::kReturnedLate);
    EXPECT_EQ(shown[0].VersionAfter, "2.1.0");
}

TEST_F(ScheduleCliTest, AddStoresCompleteEntriesOnlyAndReplacesByMac) {
    using Options = std::map<std::string, std::string>;
    const Options entry = {{"--ip", "10.0.0.5"},      {"--user", "admin"},
                           {"--password", "p\"<&'>"}, {"--mac", "aa:bb:cc:dd:ee:ff"},
                           {"--device", "Gate"},      {"--model", "N16"},
                           {"--version", "1.0"},      {"--image", home_.File("image.bin")},
                           {"--time", "+3600"}};
    // `entry` with `changes` (an empty value: a flag; "-": the option left out).
    auto add = [&](const Options& changes) {
        Options options = entry;
        for (const auto& [name, value] : changes) options[name] = value;
        std::vector<std::string> args = {"add", "--file", File()};
        for (const auto& [name, value] : options) {
            if (value == "-") continue;
            args.push_back(name);
            if (!value.empty()) args.push_back(value);
        }
        return args;
    };
    const int64_t now = std::time(nullptr);

    EXPECT_EQ(InProcess(add({})), 0);
    const std::string later = std::to_string(now + 7200);
    EXPECT_EQ(InProcess(add({{"--mac", "AA:BB:CC:DD:EE:FF"},
                             {"--time", later},
                             {"--https", ""},
                             {"--until", "5:07"}})),
              0);
    std::vector<CScheduleInfo> stored = LoadSchedule(File());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].MAC, "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(stored[0].UpgradeTime, now + 7200);
    EXPECT_EQ(stored[0].Port, "443");
    EXPECT_TRUE(stored[0].Https);
    EXPECT_EQ(stored[0].Password, "p\"<&'>");
    EXPECT_EQ(stored[0].Status, st::kWaiting);
    EXPECT_EQ(stored[0].Until, "05:07");
    struct stat info {};
    ASSERT_EQ(::stat(File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Each refused with exit 2 and the file left as it was.
    const std::string before = home_.Read("fw_config.xml");
    const std::vector<std::vector<std::string>> refused = {
        add({{"--version", "-"}}),
        add({{"--password", ""}}),
        add({{"--port", "0"}}),
        add({{"--port", "80x"}}),
        add({{"--time", "tomorrow"}}),
        add({{"--time", "2020-01-01 00:00"}}),  // passed: it could never start
        add({{"--time", "0"}}),
        add({{"--time-scale", "0"}}),
        add({{"--image", home_.File("missing.bin")}}),
        add({{"--image", home_.Path()}}),
        add({{"--image", home_.File("fw_config.xml")}}),  // not an image
        add({{"--ip", "10.0.0.256"}}),
        add({{"--ip", "gate;rm"}}),
        add({{"--mac", "aa:bb:cc:dd:ee"}}),
        add({{"--mac", "aa:bb:cc:dd:ee:fg"}}),
        add({{"--until", "25:00"}}),
        {"list", "--file", File(), "--until", "05:00"},
        {"run", "--file", File(), "--time-scale", "5000"},
        {"add", "--file", File(), "--time", "+60"},
        {"list", "--file", File(), "--ip", "10.0.0.5"},
        {"run", "--file", File(), "--time-scale", "fast"},
        {"list", "--file", File(), "extra"},
        {"remove", "--file", File()},
        {"--file", File()},
    };
    for (const std::vector<std::string>& args : refused) {
        EXPECT_EQ(InProcess(args), 2) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(home_.Read("fw_config.xml"), before);

    // The message names what is missing.
    ::testing::internal::CaptureStderr();
    InProcess(add({{"--version", "-"}, {"--model", "-"}}));
    EXPECT_TRUE(Has(::testing::internal::GetCapturedStderr(), "non-empty --model, --version"));
    ::testing::internal::CaptureStderr();
    InProcess(add({{"--image", home_.Path()}}));
    EXPECT_TRUE(Has(::testing::internal::GetCapturedStderr(), "is a folder, not a firmware image"));

    // A file that holds no readable schedule is not overwritten.
    home_.Write("fw_config.xml", "<PLAYER_SETTING><NODE dis=\"Sched");
    EXPECT_EQ(InProcess(add({})), 1);
    EXPECT_EQ(home_.Read("fw_config.xml"), "<PLAYER_SETTING><NODE dis=\"Sched");
}

TEST(ScheduleTimeTextTest, AcceptsTheThreeFormsAndNothingElse) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const int64_t now = 1767236400;  // 2026-01-01 03:00:00 UTC
    EXPECT_EQ(ParseUpgradeTime("+90", now), now + 90);
    EXPECT_EQ(ParseUpgradeTime("+0", now), now);
    EXPECT_EQ(ParseUpgradeTime("1767236400", now), now);
    EXPECT_EQ(ParseUpgradeTime("2026-01-01 03:00", now), now);
    EXPECT_EQ(ParseUpgradeTime("2026-01-01T03:00:30", now), now + 30);
    EXPECT_EQ(ParseUpgradeTime("2040-02-29 00:00", now), 2214086400);  // beyond 2038
    for (const char* bad : {"", "+", "+-5", "-5", "1.5", "12ab", "+99999999999999999999",
                            "2026-02-30 00:00", "2026-01-01 25:00", "2026-13-01 00:00",
                            "2026-01-01 03:00x", "2026-01-01_03:00", "2026-01-01"}) {
        EXPECT_FALSE(ParseUpgradeTime(bad, now)) << bad;
    }
    EXPECT_EQ(LocalTimeText(now + 30), "2026-01-01 03:00:30");
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
