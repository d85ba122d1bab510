// The runner that drives a schedule: its ticks, its workers, the file it keeps, and
// its shut-down.
#include "schedule/schedule_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "history/history_file.h"
#include "schedule/schedule_file.h"
#include "schedule/scheduler.h"
#include "schedule_test_support.h"
#include "settings/scoped_env.h"
#include "settings/xdg_folders.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "upgrade/upload_images.h"

namespace {

using namespace std::chrono_literals;
namespace st = schedule_status;

constexpr const char* kMac = "00:1A:2B:3C:4D:5E";

std::vector<int> FileStatuses(const std::string& path) {
    std::vector<int> statuses;
    for (const CScheduleInfo& e : LoadSchedule(path)) statuses.push_back(e.Status);
    return statuses;
}

class ScheduleRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        dir_.Write("image.bin", MarkedImage(100000, "2.1.0"));
        env_.Set("XDG_STATE_HOME", dir_.Path());
    }

    // What the upgrade history holds of each run: MAC, versions before and after, code.
    std::vector<std::string> History() const {
        std::vector<std::string> lines;
        for (const UpgradeHistoryRecord& r : ReadHistory(DefaultHistoryFile())) {
            lines.push_back(r.Mac + " " + r.VersionBefore + ">" + r.VersionAfter + " " +
                            std::to_string(r.Code));
        }
        return lines;
    }

    std::string Image() const { return dir_.File("image.bin"); }
    std::string File() const { return dir_.File("fw_config.xml"); }

    // The index of the first report about `id` that satisfies `match`.
    size_t FirstReport(uint64_t id, const std::function<bool(const ScheduleEvent&)>& match) const {
        const std::vector<ScheduleEvent> events = recorder_.Events();
        auto it = std::find_if(events.begin(), events.end(),
                               [&](const ScheduleEvent& e) { return e.Id == id && match(e); });
        return static_cast<size_t>(it - events.begin());
    }

    TempDir dir_;
    ScopedEnv env_;
    CScheduleList list_;
    ScheduleRecorder recorder_;
};

TEST_F(ScheduleRunnerTest, TwoEntriesForOneDeviceNeverRunAtOnce) {
    DevsimProcess sim({"--device", std::string("id=nvr,reboot_seconds=1,mac=") + kMac});
    const Clock clock(50);
    const auto& device = sim.DeviceById("nvr");
    // Two entries for one device, due together (the second MAC as typed in lower case).
    const uint64_t first = list_.Append(EntryFor(device, kMac, Image(), clock.UnixSeconds()));
    const uint64_t second =
        list_.Append(EntryFor(device, "00:1a:2b:3c:4d:5e", Image(), clock.UnixSeconds()));

    CScheduleRunner runner(list_, clock, recorder_, File(), PathExists);
    runner.Start();
    ASSERT_TRUE(WaitUntil([&] { return !ScheduleHasWork(list_); }, 30s));
    runner.Stop();

    EXPECT_EQ(recorder_.Statuses(first),
              (std::vector<int>{st::kQueued, st::kUpgrading, st::kUploading, st::kUpgrading,
                                st::kSuccessful}));
    // The second waited in the queue until the first had ended, then ran in full.
    EXPECT_EQ(recorder_.Statuses(second),
              (std::vector<int>{st::kQueued, st::kUpgrading, st::kUploading, st::kUpgrading,
                                st::kSuccessful}));
    const size_t firstEnded = FirstReport(first, [](const ScheduleEvent& e) { return e.Finished; });
    const size_t secondStarted = FirstReport(
        second, [](const ScheduleEvent& e) { return e.Entry.Status == st::kUpgrading; });
    EXPECT_LT(firstEnded, secondStarted);
    EXPECT_EQ(FileStatuses(File()), (std::vector<int>{st::kSuccessful, st::kSuccessful}));
    // Each run in the history with the version the device ran before it.
    EXPECT_EQ(History(), (std::vector<std::string>{std::string(kMac) + " 1.0.0>2.1.0 0",
                                                   "00:1a:2b:3c:4d:5e 2.1.0>2.1.0 0"}));

    const std::string log = OutputSoFar(sim);
    const size_t upload1 = log.find("upload device=nvr");
    const size_t back1 = log.find("device id=nvr back");
    const size_t upload2 = log.find("upload device=nvr", upload1 + 1);
    ASSERT_NE(upload2, std::string::npos) << log;
    EXPECT_LT(back1, upload2) << log;
}

TEST_F(ScheduleRunnerTest, StopEndsRunsPromptlyAndTheFileShowsWhereEachEntryStands) {
    DevsimProcess sim(
        {"--device", std::string("id=gone,reboot_seconds=0,fault=never_back,mac=") + kMac});
    const Clock clock;  // the real pace: the reboot pause alone is 10 s
    const int64_t now = clock.UnixSeconds();
    const auto& device = sim.DeviceById("gone");
    const uint64_t running = list_.Append(EntryFor(device, kMac, Image(), now));
    const uint64_t lost =
        list_.Append(EntryFor(device, "00:00:00:00:00:01", dir_.File("moved.bin"), now + 3600));
    list_.Append(EntryFor(device, "00:00:00:00:00:02", Image(), now + 3600));

    CScheduleRunner runner(list_, clock, recorder_, File(), PathExists);
    runner.Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<int> statuses = recorder_.Statuses(running);
            return statuses.size() >= 2 && statuses[statuses.size() - 2] == st::kUploading &&
                   statuses.back() == st::kUpgrading;
        },
        10s));
    // A tick's change is in the file before any worker ends.
    EXPECT_EQ(FileStatuses(File()),
              (std::vector<int>{st::kUpgrading, st::kFirmwareLost, st::kWaiting}));
    EXPECT_EQ(recorder_.Statuses(lost), (std::vector<int>{st::kFirmwareLost}));

    const auto asked = std::chrono::steady_clock::now();
    runner.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    EXPECT_EQ(recorder_.FinishedCount(running), 1);
    EXPECT_EQ(list_.RunningCount(), 0);
    EXPECT_EQ(FileStatuses(File()),
              (std::vector<int>{st::kUpgrading, st::kFirmwareLost, st::kWaiting}));
    EXPECT_TRUE(ScheduleHasWork(list_));  // the later entry still waits
    EXPECT_TRUE(History().empty()) << "a stopped run has no outcome yet";

    // The next scheduler ends it as failed, its outcome not confirmed (-11) in the history.
    CScheduleRunner next(list_, clock, recorder_, File(), PathExists);
    ASSERT_EQ(next.Start(), rc::kOk);
    next.Stop();
    EXPECT_EQ(FileStatuses(File()),
              (std::vector<int>{st::kOtherFailed, st::kFirmwareLost, st::kWaiting}));
    EXPECT_EQ(History(), (std::vector<std::string>{std::string(kMac) + " 1.0.0> -11"}));
}

// The scheduler's "now" is the wall clock at every tick: a clock set forward (or a
// machine waking from sleep) starts an entry due then and misses one whose window has
// passed, however little time the ticks themselves counted.
TEST_F(ScheduleRunnerTest, EntriesStartOrAreMissedByTheWallClock) {
    DevsimProcess sim({"--device", std::string("id=nvr,reboot_seconds=1,mac=") + kMac});
    const auto& device = sim.DeviceById("nvr");
    const int64_t start = 2000000000;
    std::atomic<int64_t> wall{start};
    const uint64_t due = list_.Append(EntryFor(device, kMac, Image(), start + 3600));
    const uint64_t missed =
        list_.Append(EntryFor(device, "00:00:00:00:00:01", Image(), start + 1800));
    // Eight seconds late: a tick as late as a busy machine makes it still starts the
    // entry (which then finds another device at the address). The ticks' own fast clock
    // plays no part: planned times are wall-clock times.
    const uint64_t late =
        list_.Append(EntryFor(device, "00:00:00:00:00:02", Image(), start + 3597));
    const Clock ticks(50);
    CScheduleRunner runner(list_, ticks, recorder_, File(), PathExists,
                           [&] { return wall.load(); });
    runner.Start();
    std::this_thread::sleep_for(200ms);  // several ticks: nothing is due yet
    EXPECT_EQ(list_.Find(due)->Info.Status, st::kWaiting);
    EXPECT_EQ(list_.Find(missed)->Info.Status, st::kWaiting);
    EXPECT_EQ(list_.Find(late)->Info.Status, st::kWaiting);

    wall = start + 3605;  // the clock is set an hour forward
    ASSERT_TRUE(WaitUntil(
        [&] { return recorder_.FinishedCount(due) == 1 && recorder_.FinishedCount(late) == 1; },
        20s));
    EXPECT_EQ(list_.Find(due)->Info.Status, st::kSuccessful);
    EXPECT_EQ(list_.Find(missed)->Info.Status, st::kNone);
    EXPECT_EQ(recorder_.Statuses(missed), (std::vector<int>{st::kNone}));
    EXPECT_EQ(list_.Find(late)->Info.Status, st::kOtherFailed);
}

}  // namespace

namespace {

// Entries due in one minute are one batch: with one device of each model first, the
// first rejecting its image leaves the others of its model untouched; with a limit of
// one failed device, nothing starts after the first failure.
TEST_F(ScheduleRunnerTest, EntriesDueTogetherAreGuardedAsOneRun) {
    const struct {
        const char* Name;
        BatchPolicy Policy;
        int Code;  // the ones not started
    } cases[] = {
        {"first of each model", {.FirstOfEachModel = true}, rc::kFirstOfModelFailed},
        {"one failure allowed", {.MaxFailures = 1}, rc::kTooManyFailures},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        DevsimProcess sim({"--device", "id=a,fault=reject_image,mac=00:1A:2B:3C:4D:01", "--device",
                           "id=b,mac=00:1A:2B:3C:4D:02", "--device", "id=c,mac=00:1A:2B:3C:4D:03"});
        const Clock clock(50);
        CScheduleList list;
        std::vector<uint64_t> ids;
        for (const char* id : {"a", "b", "c"}) {
            const std::string mac =
                std::string("00:1A:2B:3C:4D:0") + static_cast<char>(*id - 'a' + '1');
            ids.push_back(
                list.Append(EntryFor(sim.DeviceById(id), mac, Image(), clock.UnixSeconds())));
        }
        ScheduleRecorder recorder;
        CScheduleRunner runner(list, clock, recorder, File(), PathExists);
        runner.SetBatchPolicySource([&c] { return c.Policy; });
        ASSERT_EQ(runner.Start(), rc::kOk);
        ASSERT_TRUE(WaitUntil([&] { return !ScheduleHasWork(list); }, 30s));
        runner.Stop();
        EXPECT_EQ(list.Find(ids[0])->Info.Status, st::kImageFailed);
        for (size_t i = 1; i < ids.size(); ++i) {
            const CScheduleInfo e = list.Find(ids[i])->Info;
            EXPECT_EQ(e.Status, st::kOtherFailed) << i;
            EXPECT_EQ(e.Result, c.Code) << i;
            EXPECT_EQ(StatusText(e, DefaultText),
                      StatusCellText(stage::kFinished, 0, 100, c.Code, DefaultText));
        }
        const std::string log = OutputSoFar(sim);
        EXPECT_NE(log.find("upload device=a"), std::string::npos) << log;
        EXPECT_EQ(log.find("upload device=b"), std::string::npos) << log;
        EXPECT_EQ(log.find("upload device=c"), std::string::npos) << log;
        std::remove(File().c_str());
    }
}

}  // namespace
