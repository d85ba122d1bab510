#include "schedule/schedule_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "schedule/scheduler.h"

namespace {

namespace st = schedule_status;

CScheduleInfo Queued(const std::string& mac) {
    CScheduleInfo e;
    e.IP = "198.18.1.9";
    e.Port = "80";
    e.MAC = mac;
    e.UpgradeTime = 1700000000;
    e.Status = st::kQueued;
    e.FWPath = "/fw.bin";
    return e;
}

TEST(ScheduleListTest, ARunningEntryCannotBeEditedOrDeletedUntilItsRunEnds) {
    CScheduleList list;
    uint64_t idle = list.Append(Queued("aa:bb"));
    std::vector<CScheduledRun> runs = list.StartQueued();
    ASSERT_EQ(runs.size(), 1u);
    uint64_t other = list.Append(Queued("cc:dd"));
    list.Remove(other);

    EXPECT_EQ(list.FindByMac("AA:BB"), idle);
    EXPECT_FALSE(list.Reschedule(idle, 1800000000));
    EXPECT_FALSE(list.Remove(idle));
    EXPECT_TRUE(list.SetFirmwarePath(idle, "/next.bin"));  // for the next run only
    EXPECT_EQ(list.Find(idle)->Info.Status, st::kUpgrading);

    runs[0].SetStatus(st::kUploading);
    runs[0].SetUploadProgress(1000, 250);
    runs[0].SetUploadResult(-5);
    runs[0].SetVersionBefore("1.0");
    runs[0].SetFirmwareVersion("1.1");
    CScheduleInfo seen = list.Find(idle)->Info;
    EXPECT_EQ(seen.Status, st::kUploading);
    EXPECT_EQ(seen.TotalBytes, 1000);
    EXPECT_EQ(seen.SentBytes, 250);

    CScheduleInfo done = runs[0].Finish(st::kSuccessful);
    EXPECT_EQ(done.Status, st::kSuccessful);
    EXPECT_EQ(done.VersionBefore, "1.0");
    EXPECT_EQ(done.VersionAfter, "1.1");
    EXPECT_EQ(done.Version, "");  // as planned: the history holds before and after
    EXPECT_EQ(done.FWPath, "/next.bin");
    EXPECT_EQ(list.RunningCount(), 0);
    EXPECT_EQ(runs[0].Finish(st::kOtherFailed).Status, st::kSuccessful);  // ends once
    runs[0].SetStatus(st::kUploading);                                    // and stays ended
    EXPECT_EQ(list.Find(idle)->Info.Status, st::kSuccessful);

    EXPECT_TRUE(list.Reschedule(idle, 1800000000));
    EXPECT_EQ(list.Find(idle)->Info.Status, st::kWaiting);
    EXPECT_EQ(list.Find(idle)->Info.UpgradeTime, 1800000000);
    // The next run starts clean: nothing of the last one passes for its own.
    list.UpdateEach([](CScheduleInfo& e) { return (e.Status = st::kQueued) != 0; });
    std::vector<CScheduledRun> next = list.StartQueued();
    ASSERT_EQ(next.size(), 1u);
    const CScheduleInfo fresh = next[0].Entry();
    EXPECT_EQ(fresh.UploadResult, 0);
    EXPECT_EQ(fresh.SentBytes, 0);
    EXPECT_EQ(fresh.VersionBefore, "1.1") << "the version known at the start";
    EXPECT_EQ(fresh.VersionAfter, "");
    next[0].Finish(st::kOtherFailed);
    EXPECT_TRUE(list.Remove(idle));
    EXPECT_FALSE(list.Find(idle).has_value());
    EXPECT_FALSE(list.Remove(idle));
}

TEST(ScheduleListTest, ADroppedRunEndsAsFailedAndAReplacedEntryKeepsItsStorage) {
    CScheduleList list;
    list.Append(Queued("A"));
    list.Append(Queued("B"));
    std::vector<CScheduledRun> runs = list.StartQueued();
    ASSERT_EQ(runs.size(), 2u);
    const uint64_t dropped = runs[0].Id();
    CScheduledRun kept = std::move(runs[1]);
    runs.clear();  // the first run is dropped unfinished; the moved-from one is empty
    EXPECT_EQ(list.Find(dropped)->Info.Status, st::kOtherFailed);
    EXPECT_EQ(list.RunningCount(), 1);

    list.Assign({Queued("C")});      // the worker's entry leaves the list...
    kept.SetUploadProgress(10, 10);  // ...and it keeps writing where it writes
    EXPECT_EQ(kept.Entry().SentBytes, 10);
    EXPECT_EQ(list.RunningCount(), 1);
    EXPECT_EQ(kept.Finish(st::kSuccessful).MAC, "B");
    EXPECT_EQ(list.RunningCount(), 0);
    ASSERT_EQ(list.Entries().size(), 1u);
    EXPECT_EQ(list.Entries()[0].Info.MAC, "C");
}

TEST(ScheduleListTest, ADeviceBeingUpgradedIsNotStartedAgainUntilItsRunEnds) {
    CScheduleList list;
    const uint64_t first = list.Append(Queued("aa:bb"));
    const uint64_t second = list.Append(Queued("AA:BB"));
    const uint64_t other = list.Append(Queued("cc:dd"));
    std::vector<CScheduledRun> runs = list.StartQueued();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].Id(), first);
    EXPECT_EQ(runs[1].Id(), other);
    EXPECT_EQ(list.Find(second)->Info.Status, st::kQueued);
    EXPECT_TRUE(list.StartQueued().empty());

    // A run whose entry the list no longer holds still has its device.
    CScheduledRun replaced = std::move(runs[0]);
    list.Assign({Queued("aa:BB")});
    EXPECT_TRUE(list.StartQueued().empty());
    replaced.Finish(st::kSuccessful);
    std::vector<CScheduledRun> next = list.StartQueued();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].Entry().MAC, "aa:BB");
    // A run dropped unfinished lets the device go as well.
    next.clear();
    list.Append(Queued("AA:bb"));
    EXPECT_EQ(list.StartQueued().size(), 1u);
}

// Workers write their entries while the interface thread adds, removes, ticks and
// saves; run under ThreadSanitizer to check the locking.
TEST(ScheduleListTest, WorkersAndTheInterfaceThreadShareTheList) {
    CScheduleList list;
    for (int i = 0; i < 8; ++i) list.Append(Queued("W" + std::to_string(i)));
    std::vector<CScheduledRun> runs = StarterTick(list);
    ASSERT_EQ(runs.size(), 8u);

    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (CScheduledRun& run : runs) {
        workers.emplace_back([&go, run = std::move(run)]() mutable {
            while (!go) std::this_thread::yield();
            run.SetStatus(st::kUploading);
            for (int64_t sent = 0; sent <= 2000; ++sent) run.SetUploadProgress(2000, sent);
            run.SetStatus(st::kUpgrading);
            run.Finish(st::kSuccessful);
        });
    }
    go = true;
    const FileExists exists = [](const std::string&) { return true; };
    for (int i = 0; i < 200; ++i) {
        uint64_t id = list.Append(Queued("U" + std::to_string(i)));
        SchedulerTick(list, 1700000000, exists);
        for (const ScheduleEntry& e : list.Entries()) {
            EXPECT_GE(e.Info.SentBytes, 0);
            (void)StatusText(e.Info, DefaultText);
        }
        EXPECT_TRUE(list.Remove(id));
    }
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(list.RunningCount(), 0);
    for (const ScheduleEntry& e : list.Entries()) {
        EXPECT_EQ(e.Info.Status, st::kSuccessful);
        EXPECT_EQ(e.Info.SentBytes, 2000);
    }
}

}  // namespace
