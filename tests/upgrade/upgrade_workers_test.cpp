// The upgrade workers against simulated devices on 127.0.0.1, run through the manager
// with a fast clock: their report sequences, the arithmetic of their estimates, and
// how each kind of failure ends.
#include <gtest/gtest.h>

#include <atomic>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "support/devsim_job.h"
#include "support/devsim_process.h"
#include "support/recording_page.h"
#include "support/temp_dir.h"
#include "upgrade/upgrade_manager.h"
#include "upload_images.h"
#include "web/web_client.h"

namespace {

using namespace std::chrono_literals;
using Status = RecordingPage::Status;

constexpr double kFast = 1000;  // six minutes of countdown in 0.36 s

// The camera control's side, scripted: whether a probe finds the device again, given
// how often the device was forgotten so far.
class FinderStub final : public IDeviceFinder {
public:
    FinderStub(CUpgradeManager& manager, int port, std::function<bool(int forgets)> seen)
        : manager_(manager), port_(port), seen_(std::move(seen)) {}

    void ForgetDevice(const std::string&) override { ++forgets_; }
    bool CheckDeviceReturned(const std::string& key) override {
        ++probes_;
        if (!seen_(forgets_)) return false;
        manager_.DeviceSeenAgain(key, "http", "127.0.0.1", port_);
        return true;
    }
    void FirmwareVersionRead(const std::string&, const std::string& version) override {
        std::lock_guard lock(lock_);
        version_ = version;
    }
    int Forgets() const { return forgets_; }
    std::string Version() const {
        std::lock_guard lock(lock_);
        return version_;
    }
    int Probes() const { return probes_; }

private:
    CUpgradeManager& manager_;
    const int port_;
    const std::function<bool(int)> seen_;
    std::atomic<int> forgets_{0};
    std::atomic<int> probes_{0};
    mutable std::mutex lock_;
    std::string version_;
};

bool Never(int) { return false; }
bool Always(int) { return true; }

bool Answers(int port) {
    std::string text;
    return HttpGetText("admin", "vqmtz", LocalUrl(port, "/liveviewct?action=list&function=system"),
                       1000, text) == rc::kOk;
}

class UpgradeWorkersTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    // Runs one job to its end and returns the device's reports.
    std::vector<Status> Upgrade(const DevsimProcess::Device& device,
                                const std::vector<std::string>& images, bool singleModel,
                                const std::function<bool(int)>& seen = Never,
                                const std::string& password = "vqmtz", double timeScale = kFast) {
        const Clock clock(timeScale);
        RecordingPage page;
        CUpgradeManager manager(clock);
        FinderStub finder(manager, device.HttpPort, seen);
        manager.AddObserver(page);
        manager.AddControl(finder);
        JobRequest request;
        request.Scheme = "http";
        request.DeviceId = device.Id;
        request.Host = "127.0.0.1";
        request.Port = device.HttpPort;
        request.UserName = "admin";
        request.Password = password;
        for (const std::string& image : images) request.ImageQueue.push_back(dir_.File(image));
        request.RunFlag = 1;
        request.SingleModel = singleModel ? 1 : 0;
        request.FirmwareVersion = "1.0.0";  // devsim's own
        request.ImagesFromStore = fromStore_ ? 1 : 0;
        EXPECT_EQ(manager.StartJob(request), device.Id);
        EXPECT_TRUE(page.WaitFor("RunEnds", 30s));
        forgets_ = finder.Forgets();
        tableVersion_ = finder.Version();
        return page.StatusesOf(device.Id);
    }

    static std::vector<int> SecondsOfStage(const std::vector<Status>& reports, int stage) {
        std::vector<int> seconds;
        for (const Status& s : reports)
            if (s.Stage == stage) seconds.push_back(s.Seconds);
        return seconds;
    }

    static std::string FinalText(const std::vector<Status>& reports) {
        const Status& last = reports.back();
        return StatusCellText(last.Stage, last.Seconds, last.Percent, last.Code, DefaultText);
    }

    TempDir dir_;
    bool fromStore_ = false;
    int forgets_ = 0;
    std::string tableVersion_;  // what the camera control was told after the return
};

void ExpectReport(const Status& s, int stage, int seconds, int percent, int code) {
    EXPECT_EQ(s.Stage, stage);
    EXPECT_EQ(s.Seconds, seconds);
    EXPECT_EQ(s.Percent, percent);
    EXPECT_EQ(s.Code, code);
}

// The countdown after an upload that the device answers at the first HTTP request (240
// seconds left): every second from 360, the request's own report, then the last ten.
TEST_F(UpgradeWorkersTest, NvrUploadsThenCountsDownUntilTheDeviceAnswers) {
    DevsimProcess sim({"--device", "id=nvr,reboot_seconds=0,fault=slow_upload:1000000"});
    dir_.Write("nvr.bin", StoredImage(MarkedImage(1000000, "2.0.1")));
    // Slower, so that the device is surely back by the first request, 120 s in.
    const std::vector<Status> reports =
        Upgrade(sim.DeviceById("nvr"), {"nvr.bin"}, false, Never, "vqmtz", 100);
    ASSERT_GE(reports.size(), 3u);

    ExpectReport(reports.front(), stage::kUploading, 0, 0, 0);
    int lastPercent = 0;
    size_t i = 1;
    for (; i < reports.size() && reports[i].Stage == stage::kUploading; ++i) {
        EXPECT_GE(reports[i].Percent, lastPercent);
        EXPECT_LE(reports[i].Percent, 100);
        lastPercent = reports[i].Percent;
    }
    EXPECT_GT(i, 2u) << "progress is reported while the image goes out";

    std::vector<int> expected;
    for (int d = 360; d >= 241; --d) expected.push_back(d);
    expected.push_back(239);
    for (int d = 10; d >= 1; --d) expected.push_back(d);
    EXPECT_EQ(SecondsOfStage(reports, stage::kRunning), expected);
    for (; i < reports.size() - 1; ++i) {
        EXPECT_EQ(reports[i].Percent, (360 - reports[i].Seconds) * 100 / 360);
    }
    ExpectReport(reports.back(), stage::kFinished, 0, 100, rc::kOk);
    EXPECT_EQ(reports.back().FirmwareVersion, "2.0.1");
    EXPECT_EQ(tableVersion_, "2.0.1");
    EXPECT_EQ(forgets_, 1);
    EXPECT_EQ(FinalText(reports), "Firmware upgrade successful.");
}

// A device that never comes back fails, unless discovery saw it again.
TEST_F(UpgradeWorkersTest, NvrThatNeverAnswersFailsUnlessSeenAgain) {
    DevsimProcess sim({"--devices", "2", "id=gone{n},reboot_seconds=0,fault=never_back"});
    dir_.Write("nvr.bin", MarkedImage(50000));

    const std::vector<Status> gone = Upgrade(sim.DeviceById("gone1"), {"nvr.bin"}, false);
    ExpectReport(gone.back(), stage::kFinished, 0, 100, rc::kNotSeenAgain);
    EXPECT_EQ(FinalText(gone), "Failed! Please check the network connection.");
    // Each unanswered request pair costs three seconds of the estimate.
    const std::vector<int> seconds = SecondsOfStage(gone, stage::kRunning);
    EXPECT_NE(std::find(seconds.begin(), seconds.end(), 239), seconds.end());
    EXPECT_EQ(std::count(seconds.begin(), seconds.end(), 238), 2);
    // The last pair is sent with no second left, and ends the countdown below zero.
    EXPECT_EQ(seconds.back(), -2);

    const std::vector<Status> seen = Upgrade(sim.DeviceById("gone2"), {"nvr.bin"}, false, Always);
    ExpectReport(seen.back(), stage::kFinished, 0, 100, rc::kOk);
}

// A device goes on answering its pages and the search while it writes its flash; one
// that never restarts within the wait has not taken its image, whatever the search says.
TEST_F(UpgradeWorkersTest, ADeviceThatNeverRestartsFails) {
    DevsimProcess sim({"--device", "id=nvr,restart_delay_ms=600000", "--device",
                       "id=plx,model=PLX-420S,restart_delay_ms=600000"});
    dir_.Write("fw.bin", StoredImage(MarkedImage(20000, "2.0.0")));
    for (const char* id : {"nvr", "plx"}) {
        const std::vector<Status> reports =
            Upgrade(sim.DeviceById(id), {"fw.bin"}, std::string(id) == "plx", Always);
        ExpectReport(reports.back(), stage::kFinished, 0, 100, rc::kNotSeenAgain);
        EXPECT_EQ(reports.back().FirmwareVersion, "") << id;
    }
}

TEST_F(UpgradeWorkersTest, RefusalsEndTheJob) {
    DevsimProcess sim({"--device", "id=nvr", "--device", "id=picky,fault=reject_image", "--device",
                       "id=plx,model=PLX-420S"});
    dir_.Write("nvr.bin", MarkedImage(50000));

    const std::vector<Status> refused =
        Upgrade(sim.DeviceById("nvr"), {"nvr.bin"}, false, Never, "wrong");
    ASSERT_EQ(refused.size(), 2u);
    ExpectReport(refused[0], stage::kEndedEarly, 0, 100, rc::kLoginRefused);
    ExpectReport(refused[1], stage::kFinished, 0, 100, rc::kLoginRefused);
    EXPECT_EQ(FinalText(refused), "Failed! Please check the username and password.");

    const std::vector<Status> rejected = Upgrade(sim.DeviceById("picky"), {"nvr.bin"}, false);
    ASSERT_GE(rejected.size(), 3u);
    ExpectReport(rejected.front(), stage::kUploading, 0, 0, 0);
    ExpectReport(rejected[rejected.size() - 2], stage::kUploadEnded, 0, 100, rc::kImageRejected);
    ExpectReport(rejected.back(), stage::kFinished, 0, 100, rc::kImageRejected);
    EXPECT_EQ(FinalText(rejected), "Failed! Please check the firmware file.");

    // The "PLX-420S" preparation refused: the job ends as a failed upload step.
    const std::vector<Status> unprepared =
        Upgrade(sim.DeviceById("plx"), {"nvr.bin"}, true, Always, "wrong");
    ASSERT_EQ(unprepared.size(), 2u);
    ExpectReport(unprepared[0], stage::kUploadEnded, 0, 100, rc::kHttpUnauthorized);
    ExpectReport(unprepared[1], stage::kFinished, 0, 100, rc::kHttpUnauthorized);
    EXPECT_EQ(FinalText(unprepared), "Password error");
}

// The settling's ten reports count down from 50 (what is left once the upload's and the
// wait's 150 seconds each are taken off, however long they took) to 40 or below. How far
// below is bounded by the time the reports themselves show: a busy machine stretches the
// settling, an estimate that lost or gained seconds is caught at any speed.
void ExpectSettlingFrom50(const std::vector<Status>& reports, double timeScale) {
    std::vector<Status> running;
    for (const Status& s : reports)
        if (s.Stage == stage::kRunning) running.push_back(s);
    ASSERT_GE(running.size(), 11u);
    const Status& waitEnd = running[running.size() - 11];
    const Status& last = running.back();
    const double scaledSeconds =
        std::chrono::duration<double>(last.At - waitEnd.At).count() * timeScale;
    EXPECT_LE(last.Seconds, 40);
    EXPECT_GE(last.Seconds, 50 - static_cast<int>(scaledSeconds) - 1)
        << "the settling took " << scaledSeconds << " scaled seconds";
}

// One image: an estimate of 350 seconds; the upload counts for 150 of them, the wait for
// the device's return for 150 and the settling for 10.
TEST_F(UpgradeWorkersTest, SingleModelEstimatesItsTimeAndWaitsForTheDevice) {
    DevsimProcess sim({"--device", "id=plx1,model=PLX-420S,reboot_seconds=0", "--device",
                       "id=plx2,model=PLX-420S,reboot_seconds=0,fault=never_back"});
    dir_.Write("plx.bin", StoredImage(MarkedImage(100000, "3.1")));

    const std::vector<Status> reports =
        Upgrade(sim.DeviceById("plx1"), {"plx.bin"}, true, Always, "vqmtz", 100);
    ASSERT_GE(reports.size(), 4u);
    ExpectReport(reports[0], stage::kRunning, 0, 0, 0);
    ExpectReport(reports[1], stage::kRunning, 350, 0, 0);
    auto uploadEnd = std::find_if(reports.begin(), reports.end(),
                                  [](const Status& s) { return s.Stage == stage::kUploadEnded; });
    ASSERT_NE(uploadEnd, reports.end());
    ExpectReport(*uploadEnd, stage::kUploadEnded, 200, 42, 0);
    for (const Status& s : reports) {
        if (s.Stage == stage::kRunning && s.Seconds != 0) {
            EXPECT_EQ(s.Percent, (350 - s.Seconds) * 100 / 350);
        }
    }
    // Back at the first look, after the first 30 seconds.
    ExpectSettlingFrom50(reports, 100);
    ExpectReport(reports.back(), stage::kFinished, 0, 100, rc::kOk);
    EXPECT_EQ(reports.back().FirmwareVersion, "3.1");
    // After the upload, and again after the search's report from before the restart.
    EXPECT_EQ(forgets_, 2);

    const std::vector<Status> unseen =
        Upgrade(sim.DeviceById("plx2"), {"plx.bin"}, true, Never, "vqmtz", 100);
    ExpectReport(unseen.back(), stage::kFinished, 0, 100, rc::kNotSeenAgain);
    // The wait ran its 150 seconds, then the settling as above.
    ExpectSettlingFrom50(unseen, 100);
}

// Each image's reboot needs a return of its own: the first image's must not count for
// the second, after which this device is not seen to restart (it keeps the version the
// first image left).
TEST_F(UpgradeWorkersTest, SingleModelNeedsTheDeviceBackAfterEveryImage) {
    DevsimProcess sim({"--device", "id=plx,model=PLX-420S,reboot_seconds=0"});
    dir_.Write("a.bin", StoredImage(MarkedImage(20000, "3.1")));
    dir_.Write("b.bin", StoredImage(MarkedImage(20000, "3.1")));
    const auto& device = sim.DeviceById("plx");
    // Slower, so that the device is surely back before the second upload.
    const std::vector<Status> reports = Upgrade(
        device, {"a.bin", "b.bin"}, true,
        [&](int forgets) { return forgets == 1 && Answers(device.HttpPort); }, "vqmtz", 100);
    EXPECT_GE(forgets_, 2);
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                            [](const Status& s) { return s.Stage == stage::kUploadEnded; }),
              2);
    // Two images: 340 each plus 55.
    ExpectReport(reports[1], stage::kRunning, 735, 0, 0);
    ExpectReport(reports.back(), stage::kFinished, 0, 100, rc::kNotSeenAgain);
}

TEST_F(UpgradeWorkersTest, StopEndsAStalledUploadAndAWaitingCountdown) {
    DevsimProcess sim({"--device", "id=stall,fault=stall_mid_upload", "--device",
                       "id=gone,reboot_seconds=0,fault=never_back"});
    dir_.Write("big.bin", MarkedImage(8 << 20));
    dir_.Write("small.bin", MarkedImage(1000));
    const Clock slow;  // the countdown would take six minutes
    RecordingPage page;
    CUpgradeManager manager(slow);
    manager.AddObserver(page);
    for (const auto& [id, image] : {std::pair{"stall", "big.bin"}, {"gone", "small.bin"}}) {
        manager.StartJob(DevsimJob(sim, id, dir_.File(image)));
    }
    ASSERT_TRUE(page.WaitFor("Status gone 0 0", 10s)) << "the countdown has begun";
    ASSERT_TRUE(WaitUntil([&] { return page.StatusesOf("stall").size() >= 2; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    manager.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // Both were past their upload's start: how they end is not known.
    EXPECT_EQ(page.StatusesOf("stall").back().Code, rc::kNotConfirmed);
    EXPECT_EQ(page.StatusesOf("gone").back().Code, rc::kNotConfirmed);
    EXPECT_EQ(page.Finals("stall") + page.Finals("gone"), 2);
    EXPECT_EQ(page.Count("RunEnds"), 1);
}

}  // namespace
