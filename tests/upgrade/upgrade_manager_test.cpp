// The upgrade manager's bookkeeping with scripted workers: places, the queue, final
// reports, the end of the run, stopping, and the link to the camera controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <set>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "support/recording_page.h"
#include "support/temp_dir.h"
#include "upgrade/upgrade_manager.h"

namespace {

using namespace std::chrono_literals;

std::string Id(int n) { return "D" + std::to_string(100 + n).substr(1); }

JobRequest Request(const std::string& id, int images = 1, bool singleModel = false) {
    JobRequest r;
    r.Scheme = "http";
    r.DeviceId = id;
    r.Host = "198.18.1.1";
    r.Port = 80;
    for (int i = 0; i < images; ++i) r.ImageQueue.push_back("/images/" + std::to_string(i));
    r.RunFlag = 1;
    r.SingleModel = singleModel ? 1 : 0;
    return r;
}

// Worker bodies that do what the test tells each job, step by step.
class ScriptedWorkers {
public:
    struct Step {
        int Stage = 0;  // reported through the manager, unless Return
        int Code = 0;
        bool Return = false;  // the worker ends, returning Code
    };

    int Run(UpgradeJob& job, std::stop_token stop) {
        const std::string id = job.DeviceId;
        {
            std::lock_guard lock(lock_);
            started_.push_back(id);
        }
        changed_.notify_all();
        for (;;) {
            Step step;
            {
                std::unique_lock lock(lock_);
                if (!changed_.wait(lock, stop, [&] { return !steps_[id].empty(); })) {
                    return rc::kCancelled;
                }
                step = steps_[id].front();
                steps_[id].pop_front();
            }
            if (step.Return) return step.Code;
            job.Manager->Report(id, step.Stage, 0, 0, step.Code);
            {
                std::lock_guard lock(lock_);
                ++done_[id];
            }
        }
    }

    CUpgradeManager::JobRunner Runner() {
        return
            [this](UpgradeJob& job, const Clock&, std::stop_token stop) { return Run(job, stop); };
    }

    // Queues a step and waits until the worker has taken and (for a report) sent it.
    void Do(const std::string& id, Step step) {
        int before = 0;
        {
            std::lock_guard lock(lock_);
            before = done_[id];
            steps_[id].push_back(step);
        }
        changed_.notify_all();
        if (step.Return) return;
        ASSERT_TRUE(WaitUntil(
            [&] {
                std::lock_guard lock(lock_);
                return done_[id] > before;
            },
            5s));
    }
    void Report(const std::string& id, int stage, int code = 0) { Do(id, {stage, code, false}); }
    void End(const std::string& id, int code) { Do(id, {0, code, true}); }

    std::vector<std::string> Started() {
        std::lock_guard lock(lock_);
        return started_;
    }
    bool WaitStarted(size_t count) {
        return WaitUntil([&] { return Started().size() >= count; }, 5s);
    }

private:
    std::mutex lock_;
    std::condition_variable_any changed_;
    std::vector<std::string> started_;
    std::map<std::string, std::deque<Step>> steps_;
    std::map<std::string, int> done_;
};

class UpgradeManagerTest : public ::testing::Test {
protected:
    void StartMany(int count) {
        for (int n = 1; n <= count; ++n) EXPECT_EQ(manager_.StartJob(Request(Id(n))), Id(n));
    }

    const Clock clock_;
    RecordingPage page_;  // outlives the manager that calls it
    ScriptedWorkers workers_;
    CUpgradeManager manager_{clock_, workers_.Runner()};
};

TEST_F(UpgradeManagerTest, SixteenRunAndTheSeventeenthWaitsForAFinalReport) {
    manager_.AddObserver(page_);
    StartMany(17);
    ASSERT_TRUE(workers_.WaitStarted(16));
    EXPECT_EQ(manager_.Running(), 16);
    EXPECT_EQ(manager_.Waiting(), 1);
    EXPECT_EQ(workers_.Started().size(), 16u);
    // The waiting job is told so, and only it.
    EXPECT_EQ(page_.Events(), (std::vector<std::string>{"Status D17 0 0"}));
    EXPECT_EQ(StatusCellText(0, 0, 0, 0, DefaultText), "Waiting");

    // Progress frees nothing; a final report frees the place for the waiting job.
    workers_.Report(Id(3), stage::kUploading);
    EXPECT_EQ(manager_.Waiting(), 1);
    workers_.End(Id(3), rc::kLoginRefused);
    ASSERT_TRUE(workers_.WaitStarted(17));
    EXPECT_EQ(workers_.Started().back(), Id(17));
    EXPECT_TRUE(WaitUntil([&] { return manager_.Waiting() == 0; }, 5s));
    EXPECT_EQ(manager_.Running(), 16);

    for (int n = 1; n <= 17; ++n) {
        if (n != 3) workers_.End(Id(n), rc::kOk);
    }
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(manager_.Running(), 0);
    for (int n = 1; n <= 17; ++n) EXPECT_EQ(page_.Finals(Id(n)), 1) << Id(n);
    EXPECT_EQ(page_.StatusesOf(Id(3)).back().Code, rc::kLoginRefused);
    EXPECT_EQ(page_.Count("RunEnds"), 1);
    EXPECT_EQ(page_.Events().back(), "RunEnds");
}

// A job's place is freed once: at its last upload's stage 2, else at its final report.
TEST_F(UpgradeManagerTest, PlacesAreFreedOnceAndTheLimitHolds) {
    manager_.AddObserver(page_);
    ASSERT_EQ(manager_.StartJob(Request("PLX", 2, true)), "PLX");
    StartMany(17);  // D01 .. D15 run, D16 and D17 wait
    ASSERT_TRUE(workers_.WaitStarted(16));
    EXPECT_EQ(manager_.Waiting(), 2);

    // The first of two uploads ends: the job keeps its place for the second.
    workers_.Report("PLX", stage::kUploadEnded);
    EXPECT_EQ(manager_.Waiting(), 2);
    workers_.Report("PLX", stage::kUploadEnded);
    ASSERT_TRUE(workers_.WaitStarted(17));
    EXPECT_EQ(manager_.Running(), 16);
    EXPECT_EQ(manager_.Waiting(), 1);
    // Its final report frees nothing more: D17 still waits, 16 places stay taken.
    workers_.End("PLX", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("Status PLX 32 0", 5s));
    EXPECT_EQ(manager_.Running(), 16);
    EXPECT_EQ(manager_.Waiting(), 1);

    // An NVR's failed upload: stage 2 frees the place, stage 32 nothing more.
    workers_.Report(Id(1), stage::kUploadEnded, rc::kImageRejected);
    ASSERT_TRUE(workers_.WaitStarted(18));
    EXPECT_EQ(manager_.Running(), 16);
    workers_.End(Id(1), rc::kImageRejected);
    ASSERT_TRUE(page_.WaitFor("Status D01 32 -406", 5s));
    EXPECT_EQ(manager_.Running(), 16);

    for (int n = 2; n <= 17; ++n) workers_.End(Id(n), rc::kOk);
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(manager_.Running(), 0);
    EXPECT_EQ(page_.Count("RunEnds"), 1);
}

TEST_F(UpgradeManagerTest, AFinalReportIsForwardedOnceAndLateReportsAreDropped) {
    manager_.AddObserver(page_);
    manager_.StartJob(Request("A"));
    ASSERT_TRUE(workers_.WaitStarted(1));
    // The worker reports its own final, then returns another code: the first stands.
    workers_.Report("A", stage::kFinished, rc::kNotSeenAgain);
    workers_.Report("A", stage::kUploading);
    workers_.End("A", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(page_.Events(), (std::vector<std::string>{"Status A 32 -10", "RunEnds"}));
    manager_.Report("nobody", stage::kFinished, 0, 100, rc::kOk);
    EXPECT_EQ(page_.Events().size(), 2u);
}

TEST_F(UpgradeManagerTest, TheRunEndsOnlyAfterTheDispatchHasEnded) {
    manager_.AddObserver(page_);
    manager_.DispatchBegins();
    manager_.StartJob(Request("A"));
    ASSERT_TRUE(workers_.WaitStarted(1));
    workers_.End("A", rc::kLoginRefused);
    ASSERT_TRUE(page_.WaitFor("Status A 32 -304", 5s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(page_.Count("RunEnds"), 0) << "a device may still be handed over";
    manager_.StartJob(Request("B"));
    manager_.DispatchEnds();
    workers_.End("B", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(page_.Events().back(), "RunEnds");

    // Every job ended before the dispatch did: the dispatch's end ends the run.
    manager_.DispatchBegins();
    manager_.StartJob(Request("C"));
    workers_.End("C", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("Status C 32 0", 5s));
    EXPECT_EQ(page_.Count("RunEnds"), 1);
    manager_.DispatchEnds();
    EXPECT_EQ(page_.Count("RunEnds"), 2);

    // A dispatch that handed nothing over leaves the run's end to the camera control.
    manager_.DispatchBegins();
    manager_.DispatchEnds();
    EXPECT_EQ(page_.Count("RunEnds"), 2);
}

// Two uploads to one device at once can leave it unable to start: a device listed under
// two keys (two ways of finding it) is known by its MAC.
TEST_F(UpgradeManagerTest, ADeviceHasOneJobAtATime) {
    manager_.AddObserver(page_);
    const auto request = [](const std::string& id, const std::string& mac) {
        JobRequest r = Request(id);
        r.Mac = mac;
        return r;
    };
    EXPECT_EQ(manager_.StartJob(request("A", "00:1C:A1:00:00:01")), "A");
    EXPECT_EQ(manager_.StartJob(Request("A")), "");
    EXPECT_EQ(manager_.StartJob(Request("")), "");
    EXPECT_EQ(manager_.StartJob(request("urn:uuid:a", "001ca1000001")), "") << "running";
    // Placeholders that many devices name prove nothing.
    EXPECT_EQ(manager_.StartJob(request("B", "00:00:00:00:00:00")), "B");
    EXPECT_EQ(manager_.StartJob(request("C", "00:00:00:00:00:00")), "C");
    StartMany(13);  // every place taken
    EXPECT_EQ(manager_.StartJob(request("Q", "00:1C:A1:00:00:0Q")), "Q") << "no MAC";
    EXPECT_EQ(manager_.StartJob(request("R", "00-1C-A1-00-00-02")), "R");
    EXPECT_EQ(manager_.Waiting(), 2);
    EXPECT_EQ(manager_.StartJob(request("R2", "00:1c:a1:00:00:02")), "") << "queued";
    ASSERT_TRUE(workers_.WaitStarted(16));
    for (const std::string& id : workers_.Started()) workers_.End(id, rc::kOk);
    ASSERT_TRUE(workers_.WaitStarted(18));
    workers_.End("Q", rc::kOk);
    workers_.End("R", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(page_.Finals("R2"), 0);
    EXPECT_EQ(manager_.StartJob(Request("A")), "A") << "a new run may upgrade it again";
    ASSERT_TRUE(workers_.WaitStarted(19));
    workers_.End("A", rc::kOk);
    EXPECT_TRUE(WaitUntil([&] { return page_.Count("RunEnds") == 2; }, 5s));
}

TEST_F(UpgradeManagerTest, StopEndsRunningAndWaitingJobsOnceEach) {
    manager_.AddObserver(page_);
    StartMany(18);
    ASSERT_TRUE(workers_.WaitStarted(16));
    workers_.Report(Id(1), stage::kFinished, rc::kOk);
    ASSERT_TRUE(workers_.WaitStarted(17));
    manager_.Stop();
    EXPECT_EQ(page_.Count("RunEnds"), 1);
    EXPECT_EQ(page_.Events().back(), "RunEnds");
    EXPECT_EQ(page_.StatusesOf(Id(1)).back().Code, rc::kOk);
    for (int n = 1; n <= 18; ++n) {
        EXPECT_EQ(page_.Finals(Id(n)), 1) << Id(n);
        if (n > 1) {
            EXPECT_EQ(page_.StatusesOf(Id(n)).back().Code, rc::kCancelled) << Id(n);
        }
    }
    EXPECT_EQ(workers_.Started().size(), 17u) << "a waiting job never starts once stopped";
    EXPECT_EQ(manager_.Running(), 0);

    // A job handed over afterwards ends at once, and with it its run.
    EXPECT_EQ(manager_.StartJob(Request("late")), "late");
    EXPECT_EQ(page_.StatusesOf("late").back().Code, rc::kCancelled);
    EXPECT_EQ(page_.Count("RunEnds"), 2);
}

// What the manager asks of the camera controls, and what they tell it, from the worker's
// thread: the control's answer comes back into the manager while the worker waits.
class FakeControl final : public IDeviceFinder {
public:
    explicit FakeControl(CUpgradeManager& manager) : manager_(manager) {}
    void ForgetDevice(const std::string& key) override {
        std::lock_guard lock(lock_);
        forgotten_.push_back(key);
    }
    bool CheckDeviceReturned(const std::string& key) override {
        manager_.DeviceSeenAgain(key, "https", "198.18.1.99", 8443);
        return true;
    }
    void FirmwareVersionRead(const std::string&, const std::string&) override {}
    std::vector<std::string> Forgotten() {
        std::lock_guard lock(lock_);
        return forgotten_;
    }

private:
    CUpgradeManager& manager_;
    std::mutex lock_;
    std::vector<std::string> forgotten_;
};

TEST(UpgradeManagerLinkTest, ProbingFindsTheDeviceAgainAndForgettingStartsOver) {
    const Clock clock;
    RecordingPage page;
    std::vector<std::string> seen;
    CUpgradeManager manager(clock, [&](UpgradeJob& job, const Clock&, std::stop_token) {
        auto note = [&] {
            const JobAddress a = job.Address();
            seen.push_back(std::to_string(job.SeenAgain) + " " + a.Scheme + " " + a.Host + ":" +
                           std::to_string(a.Port));
        };
        note();
        job.Manager->ProbeDevice(job.DeviceId);
        note();
        job.Manager->ForgetDevice(job.DeviceId);
        note();
        return rc::kOk;
    });
    FakeControl first(manager);
    FakeControl second(manager);
    manager.AddObserver(page);
    manager.AddControl(first);
    manager.AddControl(second);
    manager.StartJob(Request("A"));
    ASSERT_TRUE(page.WaitFor("RunEnds", 5s));
    EXPECT_EQ(seen, (std::vector<std::string>{"0 http 198.18.1.1:80", "1 https 198.18.1.99:8443",
                                              "0 https 198.18.1.99:8443"}));
    EXPECT_EQ(first.Forgotten(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(second.Forgotten(), (std::vector<std::string>{"A"}));
}

// Many jobs ending, reporting and starting from their own threads at once.
// A job is in flight from its first report after its preparation: a stop then leaves
// its device not confirmed (-11), in the journal; a job stopped before stays -6, and one
// that ended leaves the journal.
TEST_F(UpgradeManagerTest, AStopWhileDevicesMayBeFlashingLeavesThemNotConfirmed) {
    TempDir dir;
    const CInFlightJournal journal(dir.File("in-flight.tsv"));
    manager_.SetJournal(&journal);
    manager_.AddObserver(page_);
    for (const char* id : {"UPLOADING", "WAITING", "PREPARING", "LANDED"}) {
        ASSERT_EQ(manager_.StartJob(Request(id)), id);
    }
    ASSERT_TRUE(workers_.WaitStarted(4));
    workers_.Report("UPLOADING", stage::kUploading);
    workers_.Report("WAITING", stage::kRunning);
    workers_.Report("LANDED", stage::kUploading);
    std::set<std::string> keys;
    for (const InFlightDevice& d : journal.Entries()) keys.insert(d.Key);
    EXPECT_EQ(keys, (std::set<std::string>{"UPLOADING", "WAITING", "LANDED"}));
    for (const InFlightDevice& d : journal.Entries()) {
        EXPECT_EQ(d.Host, "198.18.1.1");
        EXPECT_EQ(d.ImagePath, "/images/0");
    }
    workers_.End("LANDED", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("Status LANDED 32 0", 5s));

    manager_.Stop();
    EXPECT_EQ(page_.StatusesOf("UPLOADING").back().Code, rc::kNotConfirmed);
    EXPECT_EQ(page_.StatusesOf("WAITING").back().Code, rc::kNotConfirmed);
    EXPECT_EQ(page_.StatusesOf("PREPARING").back().Code, rc::kCancelled);
    EXPECT_EQ(StatusCellText(stage::kFinished, 0, 100, rc::kNotConfirmed, DefaultText),
              "Not confirmed: the run ended before the device was seen back.");
    keys.clear();
    for (const InFlightDevice& d : journal.Entries()) keys.insert(d.Key);
    EXPECT_EQ(keys, (std::set<std::string>{"UPLOADING", "WAITING"}))
        << "left for the next start to look at";
}

TEST_F(UpgradeManagerTest, ConcurrentReportsKeepTheBooks) {
    manager_.AddObserver(page_);
    StartMany(40);
    ASSERT_TRUE(workers_.WaitStarted(16));
    std::vector<std::jthread> enders;
    for (int t = 0; t < 4; ++t) {
        enders.emplace_back([&, t] {
            for (int n = 1 + t; n <= 40; n += 4) {
                ASSERT_TRUE(WaitUntil(
                    [&] {
                        auto s = workers_.Started();
                        return std::find(s.begin(), s.end(), Id(n)) != s.end();
                    },
                    10s));
                EXPECT_LE(manager_.Running(), CUpgradeManager::kPlaces);
                workers_.Report(Id(n), stage::kUploadEnded);
                workers_.End(Id(n), n % 2 ? rc::kOk : rc::kFailed);
            }
        });
    }
    enders.clear();
    ASSERT_TRUE(page_.WaitFor("RunEnds", 10s));
    for (int n = 1; n <= 40; ++n) EXPECT_EQ(page_.Finals(Id(n)), 1) << Id(n);
    EXPECT_EQ(page_.Count("RunEnds"), 1);
    EXPECT_EQ(manager_.Running(), 0);
}

// The batch guards in the manager: a held job waits in the queue as "Waiting" and starts
// when the guard lets it; a refused one ends at once, never started; the run ends once.
TEST_F(UpgradeManagerTest, GuardsHoldAndRefuseQueuedJobs) {
    manager_.AddObserver(page_);
    auto request = [](const std::string& id) {
        JobRequest r = Request(id);
        r.Model = id.substr(0, 1);  // A1, A2 and A3 are of one model
        return r;
    };
    manager_.SetBatchPolicy({.FirstOfEachModel = true});
    for (const char* id : {"A1", "A2", "B1", "A3"}) manager_.StartJob(request(id));
    ASSERT_TRUE(workers_.WaitStarted(2));
    std::vector<std::string> started = workers_.Started();  // in the threads' order
    std::sort(started.begin(), started.end());
    EXPECT_EQ(started, (std::vector<std::string>{"A1", "B1"}));
    EXPECT_EQ(manager_.Waiting(), 2);
    EXPECT_EQ(page_.Count("Status A2 0 0"), 1) << "shown as waiting";
    // A policy set now is the next run's.
    manager_.SetBatchPolicy({});
    workers_.End("A1", rc::kImageRejected);
    ASSERT_TRUE(page_.WaitFor("Status A3 32 -601", 5s));
    EXPECT_EQ(page_.Count("Status A2 32 -601"), 1);
    EXPECT_EQ(manager_.Waiting(), 0);
    workers_.End("B1", rc::kOk);
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(workers_.Started().size(), 2u) << "refused jobs never started";
    EXPECT_EQ(page_.Count("RunEnds"), 1);
}

TEST_F(UpgradeManagerTest, JobThatWouldNotFitTheWindowEndsAtOnceWithItsEnd) {
    manager_.AddObserver(page_);
    // An NVR waits up to 360 s for its device: ten seconds are not enough.
    const int64_t end = clock_.UnixSeconds() + 10;
    manager_.SetBatchPolicy({.WindowEnd = end});
    manager_.StartJob(Request("A"));
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(page_.Events(), (std::vector<std::string>{"Status A 32 -603", "RunEnds"}));
    EXPECT_EQ(page_.StatusesOf("A").back().WindowEnd, end);
    EXPECT_TRUE(workers_.Started().empty());
}

}  // namespace
