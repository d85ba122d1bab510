// A scheduled upgrade's worker against simulated devices: the status it goes through,
// what reaches the device, and how promptly a shut-down ends it.
#include "schedule/scheduled_upgrade.h"

#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <thread>

#include "base/result_codes.h"
#include "base/time_of_day.h"
#include "device/upgrade_progress.h"
#include "history/upgrade_history.h"
#include "schedule/scheduled_run_record.h"
#include "schedule/scheduled_run_steps.h"
#include "schedule/scheduler.h"
#include "schedule_test_support.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "upgrade/upload_images.h"

namespace {

using namespace std::chrono_literals;
namespace st = schedule_status;

// Larger than the loopback socket buffers, which would otherwise take it all at once.
constexpr int64_t kImageSize = 12 << 20;
constexpr const char* kMac = "00:1A:2B:3C:4D:5E";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ScheduledUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        dir_.Write("image.bin", MarkedImage(kImageSize, "2.1.0"));
    }

    // Starts `entry` as the starter tick does; the run for a worker.
    CScheduledRun Start(CScheduleInfo entry) {
        entry.Status = st::kQueued;
        ids_.push_back(list_.Append(entry));
        std::vector<CScheduledRun> runs = list_.StartQueued();
        EXPECT_EQ(runs.size(), 1u);
        return std::move(runs.front());
    }

    // Runs `entry` to its end on this thread with a Clock `scale` times faster; its id.
    uint64_t Run(const CScheduleInfo& entry, double scale, std::stop_token stop = {},
                 IDeviceLocator* locator = nullptr) {
        const Clock clock(scale);
        CScheduledRun run = Start(entry);
        const uint64_t id = run.Id();
        RunScheduledUpgrade(std::move(run), clock, recorder_, stop, nullptr, locator);
        return id;
    }

    CScheduleInfo Entry(const DevsimProcess& sim, const std::string& device,
                        const std::string& mac = kMac) {
        return EntryFor(sim.DeviceById(device), mac, dir_.File("image.bin"), 1);
    }

    CScheduleInfo Final(uint64_t id) const { return list_.Find(id)->Info; }

    TempDir dir_;
    CScheduleList list_;
    ScheduleRecorder recorder_;
    std::vector<uint64_t> ids_;
};

TEST_F(ScheduledUpgradeTest, UploadsReportsItsProgressAndSucceedsOnceTheDeviceIsBack) {
    DevsimProcess sim({"--device", std::string("id=ok,reboot_seconds=1,mac=") + kMac +
                                       ",fault=slow_upload:6000000"});
    // The MAC as the user may have typed it.
    const uint64_t id = Run(Entry(sim, "ok", "00:1a:2b:3c:4d:5e"), 50);

    EXPECT_EQ(recorder_.Statuses(id),
              (std::vector<int>{st::kUploading, st::kUpgrading, st::kSuccessful}));
    EXPECT_EQ(recorder_.FinishedCount(id), 1);
    int last = 0;
    bool between = false;
    for (const ScheduleEvent& e : recorder_.Events()) {
        if (e.Entry.Status != st::kUploading) continue;
        const int percent = UploadPercent(e.Entry.TotalBytes, e.Entry.SentBytes);
        EXPECT_GE(percent, last);
        last = percent;
        between = between || (percent > 0 && percent < 100);
    }
    EXPECT_TRUE(between) << "no progress was reported while the image went out";

    const CScheduleInfo done = Final(id);
    EXPECT_EQ(done.Status, st::kSuccessful);
    EXPECT_EQ(done.UploadResult, rc::kOk);
    EXPECT_EQ(done.TotalBytes, kImageSize);
    EXPECT_EQ(done.SentBytes, kImageSize);
    EXPECT_EQ(list_.RunningCount(), 0);
    // The history has the version the device named before the upload, not the entry's.
    const std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(done, 0);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->VersionBefore, "1.0.0");
    EXPECT_EQ(record->VersionAfter, "2.1.0");
    EXPECT_EQ(done.Version, "1.0");  // as planned
    // Successful only after the device answered again, with the new firmware.
    const std::string log = OutputSoFar(sim);
    EXPECT_TRUE(Has(log, "upload device=ok")) << log;
    EXPECT_TRUE(Has(log, "device id=ok back address=127.0.0.1")) << log;
    EXPECT_TRUE(Has(log, "firmware=2.1.0")) << log;
}

TEST_F(ScheduledUpgradeTest, AnotherDeviceAtTheAddressOrNoneGetsNothing) {
    DevsimProcess sim({"--device", "id=other,mac=00:1A:2B:3C:4D:5F"});
    CScheduleInfo gone = Entry(sim, "other");
    gone.Port = std::to_string(ClosedPort());

    const uint64_t wrong = Run(Entry(sim, "other"), 50);
    const uint64_t unreachable = Run(gone, 50);
    for (uint64_t id : {wrong, unreachable}) {
        EXPECT_EQ(recorder_.Statuses(id), (std::vector<int>{st::kOtherFailed})) << id;
        EXPECT_EQ(Final(id).TotalBytes, 0) << id;
    }
    const std::string log = OutputSoFar(sim);
    EXPECT_FALSE(Has(log, "upload device=")) << log;
}

TEST_F(ScheduledUpgradeTest, RefusalsShowWhatWasRefused) {
    // A device ending its lines with "\r\n" is still recognised by its MAC.
    DevsimProcess sim(
        {"--device", std::string("id=picky,fault=reject_image,fault=crlf_lines,mac=") + kMac});
    CScheduleInfo wrongPassword = Entry(sim, "picky");
    wrongPassword.Password = "wrong";

    // The device answers a wrong password with 401: that is a refused log-in, not a
    // network failure.
    const uint64_t refused = Run(wrongPassword, 50);
    EXPECT_EQ(recorder_.Statuses(refused), (std::vector<int>{st::kLoginFailed}));
    EXPECT_EQ(StatusText(Final(refused), DefaultText),
              "Failed! Please check the username and password.");

    const uint64_t rejected = Run(Entry(sim, "picky"), 50);
    EXPECT_EQ(recorder_.Statuses(rejected),
              (std::vector<int>{st::kUploading, st::kUpgrading, st::kImageFailed}));
    EXPECT_EQ(Final(rejected).UploadResult, rc::kImageRejected);
    const std::string log = OutputSoFar(sim);
    EXPECT_TRUE(Has(log, "verdict=rejected")) << log;
    EXPECT_FALSE(Has(log, "away")) << log;
}

// A run whose image and wait would end after its window is not started: the device is
// not even asked. The estimate takes the rate measured by earlier uploads.
TEST_F(ScheduledUpgradeTest, ARunThatWouldNotFitItsWindowIsNotStarted) {
    DevsimProcess sim({"--device", std::string("id=ok,reboot_seconds=0,mac=") + kMac});
    const Clock clock(1);
    const int64_t now = clock.UnixSeconds();
    // The 12 MB image at 2 Mbit/s takes 51 s; the wait 440 s.
    struct Case {
        int64_t Left;  // seconds from now to the window's end
        UploadRate* Rate;
        bool Starts;
    };
    UploadRate fast;
    fast.Add(kImageSize, 1000);
    // The window ends at the start of its minute, up to 59 s before `Left`.
    const Case cases[] = {{600, nullptr, true}, {480, nullptr, false}, {510, &fast, true}};
    for (const Case& c : cases) {
        CScheduleInfo entry = Entry(sim, "ok");
        entry.UpgradeTime = now;
        entry.Until = HourMinuteText(now + c.Left);
        CScheduledRun run = Start(entry);
        const uint64_t id = run.Id();
        std::stop_source stop;
        stop.request_stop();  // a run that would start ends at once, before it asks
        RunScheduledUpgrade(std::move(run), clock, recorder_, stop.get_token(), c.Rate);
        const CScheduleInfo done = Final(id);
        EXPECT_EQ(done.Status, c.Starts ? st::kQueued : st::kPastWindow) << c.Left;
        if (!c.Starts) {
            EXPECT_EQ(StatusText(done, DefaultText),
                      "Not started: it would not finish before " + done.Until + ".");
        }
        // A stopped run is queued again: out of the way of the next case.
        list_.Remove(id);
    }
    EXPECT_FALSE(Has(OutputSoFar(sim), "upload device=")) << OutputSoFar(sim);
}

TEST_F(ScheduledUpgradeTest, ADeviceNotSeenAgainWithinTheDeadlineFails) {
    DevsimProcess sim(
        {"--device", std::string("id=gone,reboot_seconds=0,fault=never_back,mac=") + kMac});
    const auto began = std::chrono::steady_clock::now();
    // 10 s, then 420 s of looking: 2.15 s at this scale.
    const uint64_t id = Run(Entry(sim, "gone"), 200);
    const auto took = std::chrono::steady_clock::now() - began;

    EXPECT_EQ(recorder_.Statuses(id),
              (std::vector<int>{st::kUploading, st::kUpgrading, st::kOtherFailed}));
    EXPECT_EQ(Final(id).UploadResult, rc::kOk);  // the device took the image
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 10s);
}

TEST_F(ScheduledUpgradeTest, AShutDownEndsARunAtOnceAndLeavesItsStatusHonest) {
    DevsimProcess sim(
        {"--device", std::string("id=gone,reboot_seconds=0,fault=never_back,mac=") + kMac});

    // Stopped before it began: the device is not touched and the entry is queued again.
    std::stop_source before;
    before.request_stop();
    const uint64_t untouched = Run(Entry(sim, "gone"), 1, before.get_token());
    EXPECT_EQ(Final(untouched).Status, st::kQueued);
    EXPECT_EQ(recorder_.FinishedCount(untouched), 1);
    EXPECT_FALSE(Has(OutputSoFar(sim), "upload device="));
    list_.Remove(untouched);

    // Stopped in the 10-second pause after the upload, at the real pace.
    const Clock clock(1);
    CScheduledRun run = Start(Entry(sim, "gone"));
    const uint64_t id = run.Id();
    std::jthread worker(
        [&](std::stop_token stop) { RunScheduledUpgrade(std::move(run), clock, recorder_, stop); });
    ASSERT_TRUE(WaitUntil(
        [&] {
            return recorder_.Statuses(id) == std::vector<int>{st::kUploading, st::kUpgrading};
        },
        10s));
    const auto asked = std::chrono::steady_clock::now();
    worker.request_stop();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    // The device took the image and its return was not seen: still "Upgrading".
    EXPECT_EQ(Final(id).Status, st::kUpgrading);
    EXPECT_EQ(recorder_.FinishedCount(id), 1);
    EXPECT_EQ(list_.RunningCount(), 0);
}

// Where a search would have seen a device: one fixed sighting for one MAC.
class FixedLocator final : public IDeviceLocator {
public:
    FixedLocator(std::string mac, DeviceSighting sighting)
        : mac_(std::move(mac)), sighting_(std::move(sighting)) {}
    std::optional<DeviceSighting> Locate(const std::string& mac) override {
        ++asked_;
        if (!SameMac(mac, mac_)) return std::nullopt;
        return sighting_;
    }
    int Asked() const { return asked_; }

private:
    std::string mac_;
    DeviceSighting sighting_;
    std::atomic<int> asked_{0};
};

// A device that restarts onto a new address (a DHCP lease) is found there by its MAC and
// ends successful at that address, which the entry and its history record keep. A
// sighting of another device (another MAC answers there) proves nothing.
TEST_F(ScheduledUpgradeTest, ADeviceBackAtAnotherAddressIsFoundThereByItsMac) {
    DevsimProcess sim(
        {"--device",
         std::string("id=moved,reboot_seconds=1,fault=reboot_address:127.0.0.2,mac=") + kMac,
         "--device", std::string("id=gone,reboot_seconds=0,fault=never_back,mac=") + kMac,
         "--device", "id=stranger,mac=00:1A:2B:3C:4D:99"});
    const int port = sim.DeviceById("moved").HttpPort;
    FixedLocator toMoved(kMac, {"127.0.0.2", port});
    const uint64_t moved = Run(Entry(sim, "moved"), 50, {}, &toMoved);
    EXPECT_EQ(recorder_.Statuses(moved),
              (std::vector<int>{st::kUploading, st::kUpgrading, st::kSuccessful}));
    EXPECT_GT(toMoved.Asked(), 0);
    EXPECT_EQ(Final(moved).IP, "127.0.0.2");
    EXPECT_EQ(Final(moved).VersionAfter, "2.1.0");
    const std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(Final(moved), 0);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Address, "127.0.0.2:" + std::to_string(port));

    FixedLocator toStranger(kMac, {"127.0.0.1", sim.DeviceById("stranger").HttpPort});
    const uint64_t gone = Run(Entry(sim, "gone"), 200, {}, &toStranger);
    EXPECT_EQ(recorder_.Statuses(gone),
              (std::vector<int>{st::kUploading, st::kUpgrading, st::kOtherFailed}));
    EXPECT_EQ(Final(gone).IP, "127.0.0.1");
    EXPECT_EQ(Final(gone).Port, std::to_string(sim.DeviceById("gone").HttpPort));
}

}  // namespace

namespace {

// Each family's device, scheduled, is upgraded with its own procedure (the NVR's cgi_main
// form, the PLX-420S's preparation and firmwareupgrade form, the camera's device
// service), and a run that fails keeps its own code for its text and its history.
TEST_F(ScheduledUpgradeTest, EachFamilyTakesItsOwnProcedureAndAFailureKeepsItsCode) {
    const std::string camera =
        "protocol=onvif,reboot_seconds=1,https_port=-1,firmware=1.0.0,auth=digest,mac=";
    const struct {
        const char* Id;
        const char* Settings;
        const char* Model;
        bool Onvif;
        const char* UploadPath;  // nullptr: nothing was sent
        int Status;
        int Code;
    } cases[] = {
        {"nvr", "reboot_seconds=1,mac=", "NVR-1600", false, "/cgi-bin/cgi_main.cgi",
         st::kSuccessful, rc::kOk},
        {"plx", "model=PLX-420S,reboot_seconds=1,mac=", "PLX-420S", false, "firmwareupgrade",
         st::kSuccessful, rc::kOk},
        {"cam", "", "IPC", true, "/onvif/", st::kSuccessful, rc::kOk},
        {"nohttp", "fault=onvif_no_http_upgrade,", "IPC", true, nullptr, st::kOtherFailed,
         rc::kNoHttpUpgrade},
        {"broken", "fault=onvif_upload_error,", "IPC", true, "/onvif/", st::kOtherFailed,
         rc::kCameraInstallFailed},
        {"old", "fault=reboot_old_version,", "IPC", true, "/onvif/", st::kOtherFailed,
         rc::kOldFirmwareStill},
    };
    std::vector<std::string> args;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string mac = "00:1A:2B:3C:4E:0" + std::to_string(i);
        args.push_back("--device");
        args.push_back(std::string("id=") + cases[i].Id + "," +
                       (cases[i].Onvif ? cases[i].Settings + camera : cases[i].Settings) + mac);
    }
    DevsimProcess sim(args);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.Id);
        CScheduleInfo entry = Entry(sim, c.Id, "00:1A:2B:3C:4E:0" + std::to_string(i));
        entry.Model = c.Model;
        if (c.Onvif) entry.OnvifService = "/onvif/device_service";
        const CScheduleInfo done = Final(Run(entry, 50));
        EXPECT_EQ(done.Status, c.Status);
        EXPECT_EQ(ScheduledResultCode(done), c.Code);
        const std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(done, 0);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->Code, c.Code);
        if (c.Code < 0) {
            EXPECT_EQ(StatusText(done, DefaultText),
                      StatusCellText(stage::kFinished, 0, 100, c.Code, DefaultText));
        }
        const std::string log = OutputSoFar(sim);
        const size_t at = log.find(std::string("upload device=") + c.Id + " path=");
        ASSERT_EQ(at != std::string::npos, c.UploadPath != nullptr) << log;
        if (c.UploadPath) {
            EXPECT_TRUE(Has(log.substr(at, log.find('\n', at) - at), c.UploadPath)) << log;
        }
    }
}

}  // namespace
