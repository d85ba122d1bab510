// The guards of a batch against simulated devices: strelvane-cli in the lab with one
// device of each model first, a limit of failures, a window, and a device that comes
// back after its wait; and the upgrade manager's own workers with a window that leaves
// room for two of four devices.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/time_of_day.h"
#include "cli_reports.h"
#include "history/history_file.h"
#include "support/devsim_job.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "support/recording_page.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "upgrade/upgrade_manager.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

// Every "upload device=ID ..." line devsim has printed so far, by device.
std::map<std::string, int> Uploads(DevsimProcess& sim) {
    std::map<std::string, int> uploads;
    while (auto line = sim.Process().ReadLine(200ms)) {
        if (StartsWith(*line, "upload ")) ++uploads[KeyValueFields(*line)["device"]];
    }
    return uploads;
}

// The devices that got an upload report (stage 3) from the command.
std::set<std::string> Uploading(const std::vector<Report>& reports) {
    std::set<std::string> ids;
    for (const Report& r : reports) {
        if (r.Stage == 3) ids.insert(r.DeviceId);
    }
    return ids;
}

class BatchLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
        dir_.Write("fw.bin", MarkedImage(20000, "2.0.0"));
    }

    // The command with the history kept in this test's folder.
    std::vector<std::string> Command(const LabNetwork& lab, const std::vector<std::string>& words) {
        std::vector<std::string> command = lab.InTech();
        for (const std::string& word :
             {std::string("env"), "XDG_STATE_HOME=" + dir_.File("state"),
              std::string(STRELVANE_CLI_PATH), std::string("upgrade"), std::string("--all"),
              std::string("--file"), dir_.File("fw.bin")}) {
            command.push_back(word);
        }
        command.insert(command.end(), words.begin(), words.end());
        return command;
    }

    TempDir dir_;
};

// The first NVR-1600 rejects the image: the other two are not started. The NVR-800s,
// another model, are not held up: their first comes back, then the second goes.
TEST_F(BatchLabTest, FirstOfEachModelStopsAModelWhoseFirstDeviceFailed) {
    LabNetwork lab({.Devices = 5});
    const std::string common = "http_port=80,https_port=-1,reboot_seconds=1";
    DevsimProcess sim(
        {"--discovery",  //
         "--devices", "3",
         "id=BAD{n},address=198.18.1.{n},model=NVR-1600,fault=reject_image," + common, "--devices",
         "2", "id=GOOD{n},address=198.18.1.{n+3},model=NVR-800," + common},
        lab.InDevices());
    ChildProcess cli(Command(lab, {"--first-of-each-model", "--time-scale", "30"}));
    const std::vector<Report> reports = ReadReports(cli, 90s);
    EXPECT_EQ(cli.Wait(5s), 1);
    std::map<std::string, Report> finals = Finals(reports);
    ASSERT_EQ(finals.size(), 5u);
    int rejected = 0;
    for (const char* id : {"BAD1", "BAD2", "BAD3"}) {
        const Report& r = finals[id];
        if (r.Code == rc::kImageRejected) {
            ++rejected;
        } else {
            EXPECT_EQ(r.Code, rc::kFirstOfModelFailed) << id;
            EXPECT_EQ(r.Text, "Not started: the first device of this model failed.") << id;
        }
    }
    EXPECT_EQ(rejected, 1);
    for (const char* id : {"GOOD1", "GOOD2"}) EXPECT_EQ(finals[id].Code, 0) << id;
    const std::map<std::string, int> uploads = Uploads(sim);
    int badUploads = 0;
    for (const auto& [id, count] : uploads) badUploads += StartsWith(id, "BAD") ? count : 0;
    EXPECT_EQ(badUploads, 1) << "the rest of the model were not touched";
    EXPECT_EQ(uploads.count("GOOD1") + uploads.count("GOOD2"), 2u);
    // The second NVR-800 went only once the first was back: its upload comes after the
    // first one's final line.
    std::map<std::string, size_t> firstUpload;
    std::map<std::string, size_t> final;
    for (size_t i = 0; i < reports.size(); ++i) {
        if (reports[i].Stage == 3) firstUpload.try_emplace(reports[i].DeviceId, i);
        if (reports[i].Stage == 32) final[reports[i].DeviceId] = i;
    }
    const bool oneFirst = final["GOOD1"] < final["GOOD2"];
    EXPECT_LT(final[oneFirst ? "GOOD1" : "GOOD2"], firstUpload[oneFirst ? "GOOD2" : "GOOD1"]);
}

// Four devices reject the image, a fifth takes it. With at most two failures, two
// uploads fail; the others that had not started never do; whatever started finished
// with its own result.
TEST_F(BatchLabTest, MaxFailuresStopsTheRunAfterTwoFailedUploads) {
    LabNetwork lab({.Devices = 5});
    const std::string common = "model=NVR-1600,http_port=80,https_port=-1,reboot_seconds=1";
    DevsimProcess sim(
        {"--discovery",  //
         "--devices", "4", "id=BAD{n},address=198.18.1.{n},fault=reject_image," + common,
         "--device", "id=GOOD,address=198.18.1.5," + common},
        lab.InDevices());
    ChildProcess cli(Command(lab, {"--max-failures", "2", "--time-scale", "30"}));
    const std::vector<Report> reports = ReadReports(cli, 90s);
    EXPECT_EQ(cli.Wait(5s), 1);
    const std::map<std::string, Report> finals = Finals(reports);
    ASSERT_EQ(finals.size(), 5u);
    std::map<int, int> codes;
    for (const auto& [id, r] : finals) ++codes[r.Code];
    EXPECT_EQ(codes[rc::kImageRejected], 2);
    EXPECT_EQ(codes[rc::kImageRejected] + codes[rc::kOk] + codes[rc::kTooManyFailures], 5);
    const std::set<std::string> started = Uploading(reports);
    for (const auto& [id, r] : finals) {
        EXPECT_EQ(started.count(id) == 1, r.Code != rc::kTooManyFailures) << id;
        if (r.Code == rc::kTooManyFailures) {
            EXPECT_EQ(r.Text, "Not started: too many devices failed.");
        }
    }
    int uploads = 0;
    for (const auto& [id, count] : Uploads(sim)) uploads += StartsWith(id, "BAD") ? count : 0;
    EXPECT_EQ(uploads, 2);
}

// A window that ends within two minutes leaves no room for any device (each needs its
// six-minute wait): none is started, and each says until when it would have run.
TEST_F(BatchLabTest, UntilTooSoonStartsNothing) {
    LabNetwork lab({.Devices = 2});
    DevsimProcess sim({"--discovery", "--devices", "2",
                       "id=D{n},address=198.18.1.{n},model=NVR-1600,http_port=80,https_port=-1"},
                      lab.InDevices());
    // One to two minutes away: the search cannot outlast it.
    const std::string until = HourMinuteText(std::time(nullptr) + 120);
    ChildProcess cli(Command(lab, {"--until", until}));
    const std::map<std::string, Report> finals = Finals(ReadReports(cli, 60s));
    EXPECT_EQ(cli.Wait(5s), 1);
    ASSERT_EQ(finals.size(), 2u);
    for (const auto& [id, r] : finals) {
        EXPECT_EQ(r.Code, rc::kPastWindow) << id;
        EXPECT_EQ(r.Text, "Not started: it would not finish before " + until + ".") << id;
    }
    EXPECT_TRUE(Uploads(sim).empty());
}

// The device is away longer than the six-minute wait: it ends "did not return", comes
// back with its new firmware while the command still watches, and ends upgraded. The
// history keeps both records; the report shows the late return in place of the failure.
TEST_F(BatchLabTest, DeviceBackAfterTheWaitEndsUpgradedReturnedLate) {
    LabNetwork lab({.Devices = 1});
    // At 60 times the speed the wait is six real seconds; the device is away for twelve.
    DevsimProcess sim({"--discovery", "--device",
                       "id=LATE,address=198.18.1.1,model=NVR-1600,http_port=80,https_port=-1,"
                       "reboot_seconds=12"},
                      lab.InDevices());
    ChildProcess cli(Command(lab, {"--time-scale", "60", "--watch-late", "30"}));
    const std::vector<Report> reports = ReadReports(cli, 90s);
    EXPECT_EQ(cli.Wait(5s), 0) << "a late return is an upgrade";
    std::vector<Report> finals;
    for (const Report& r : reports) {
        if (r.Stage == 32) finals.push_back(r);
    }
    ASSERT_EQ(finals.size(), 2u);
    EXPECT_EQ(finals[0].Code, rc::kNotSeenAgain);
    EXPECT_EQ(finals[1].Code, rc::kReturnedLate);
    EXPECT_EQ(finals[1].Text, "Firmware upgrade successful (returned late).");
    EXPECT_EQ(finals[1].FirmwareVersion, "2.0.0");

    const std::string history = dir_.File("state/strelvane/history.tsv");
    const std::vector<UpgradeHistoryRecord> records = ReadHistory(history);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Code, rc::kNotSeenAgain);
    EXPECT_EQ(records[1].Code, rc::kReturnedLate);
    EXPECT_EQ(records[1].VersionAfter, "2.0.0");
    const ProcessResult report =
        RunProcess({STRELVANE_CLI_PATH, "report", "--history", history}, 10s);
    ASSERT_EQ(report.ExitCode, 0);
    EXPECT_EQ(report.Output.find("failed"), std::string::npos) << report.Output;
    EXPECT_NE(report.Output.find(",upgraded,601,Firmware upgrade successful (returned late).,"),
              std::string::npos)
        << report.Output;
}

// The upgrade manager with its real workers, the first device of each model first and
// a window of that device's estimate and half a minute: the two firsts fit, the two
// that wait for them no longer do once the firsts are back.
TEST(BatchWindowTest, WindowLeavesRoomForTwoOfFourDevices) {
    ClearProxyEnvironment();
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(20000, "2.0.0"));
    DevsimProcess sim({"--devices", "4", "id=D{n},reboot_seconds=2"});
    const Clock clock(30);
    RecordingPage page;
    CUpgradeManager manager(clock);
    manager.AddObserver(page);
    // 20 kB at the cautious rate: 1 s; the NVR's wait: 360 s, 12 s on the wall clock at
    // this scale. The firsts are back after about 3 s: then the others no longer fit.
    const int64_t estimate = 1 + clock.WallSecondsFor(360);
    manager.SetBatchPolicy(
        {.FirstOfEachModel = true, .WindowEnd = clock.UnixSeconds() + estimate + 1});
    for (int n = 1; n <= 4; ++n) {
        const std::string id = "D" + std::to_string(n);
        JobRequest r = DevsimJob(sim, id, dir.File("fw.bin"));
        r.FirmwareVersion = "1.0.0";
        r.Model = n % 2 ? "NVR-1600" : "NVR-800";
        manager.StartJob(r);
    }
    ASSERT_TRUE(page.WaitFor("RunEnds", 60s));
    for (int n = 1; n <= 4; ++n) {
        const std::string id = "D" + std::to_string(n);
        EXPECT_EQ(page.Finals(id), 1) << id;
        EXPECT_EQ(page.StatusesOf(id).back().Code, n <= 2 ? rc::kOk : rc::kPastWindow) << id;
    }
    EXPECT_EQ(Uploads(sim), (std::map<std::string, int>{{"D1", 1}, {"D2", 1}}));
}

}  // namespace
