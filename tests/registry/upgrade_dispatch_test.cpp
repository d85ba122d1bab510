// The Upgrade command of the camera control: which devices are dispatched, which images
// each gets, the final statuses of those that get none, the job's flags, and the
// notifications that bracket the run. Model queries go to simulated devices on
// 127.0.0.1; the firmware store and the upgrade manager are the test's own.
#include <gtest/gtest.h>

#include <map>

#include "base/result_codes.h"
#include "registry/camera_control.h"
#include "registry_fakes.h"
#include "support/devsim_process.h"
#include "support/recording_page.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

// A firmware store holding, per model, the versions and paths it answers with.
class FakeStore final : public IFirmwareMatch {
public:
    void Hold(const std::string& model, std::vector<std::string> versions) {
        std::vector<std::string> paths;
        for (const std::string& v : versions) paths.push_back("/store/" + model + "_" + v + ".bin");
        held_[model] = {std::move(versions), std::move(paths)};
    }
    bool FindLatestFirmware(const std::string& model, const std::string& hwVer,
                            const std::string& productName, std::vector<std::string>& versions,
                            std::vector<std::string>& paths) const override {
        {
            std::lock_guard lock(lock_);
            asked_.push_back(model + "|" + hwVer + "|" + productName);
        }
        auto found = held_.find(model);
        if (found == held_.end()) return false;
        versions = found->second.first;
        paths = found->second.second;
        return true;
    }
    std::vector<std::string> Asked() const {
        std::lock_guard lock(lock_);
        return asked_;
    }

private:
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> held_;
    mutable std::mutex lock_;
    mutable std::vector<std::string> asked_;
};

// A page whose final-status handler holds the dispatch thread until released, as a GUI
// page waiting for its own thread would.
class HoldingPage final : public IRegistryObserver {
public:
    void DeviceFinished(const UpgradeReport&) override {
        ++held_;
        WaitUntil([this] { return released_.load(); }, 10s);
    }
    void DeviceStatus(const std::string&, int, int, int, int) override {}
    void Reset() override {}
    void DeviceFound(const CIPCamInfo&) override {}
    void DeviceDispatched(const CIPCamInfo&) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

    std::atomic<int> held_{0};
    std::atomic<bool> released_{false};
};

class UpgradeDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        control_.Attach(page_);
    }

    // A device in the table, checked, with the credentials the page would store.
    void Add(const std::string& id, int port, const std::string& model, const std::string& firmware,
             int checked = 1) {
        CIPCamInfo r;
        r.DeviceId = id;
        r.HostAddress = "127.0.0.1";
        r.HttpPort = port;
        r.ModelName = model;
        table_.AddOrUpdate(id, r);
        table_.Modify(id, [&](CIPCamInfo& stored) { stored.FirmwareVersion = firmware; });
        control_.SetDeviceCredentials(id, "admin", "vqmtz", checked);
    }
    int Port(const std::string& id) { return sim_.DeviceById(id).HttpPort; }

    // Runs the command and waits for its last dispatch to end.
    void Upgrade() {
        const int released = page_.Count("Busy 0");
        control_.StartUpgrade(1);
        ASSERT_TRUE(WaitUntil([&] { return page_.Count("Busy 0") > released; }, 10s));
    }

    const JobRequest* JobOf(const std::string& id) {
        jobs_ = manager_.Jobs();
        for (const JobRequest& job : jobs_)
            if (job.DeviceId == id) return &job;
        return nullptr;
    }

    DevsimProcess sim_{{"--device", "id=nvr,model=NVR-1600,product_model=NVR-1600P", "--device",
                        "id=locked,password=secret"}};
    CCameraTable table_;
    FakeStore store_;
    RecordingUpgradeManager manager_;
    RecordingPage page_;
    HoldingPage holding_;  // attached by the test that needs it; outlives the control
    CCameraControl control_{table_, &manager_, &store_};
    std::vector<JobRequest> jobs_;
};

TEST_F(UpgradeDispatchTest, NoDeviceCheckedEndsTheRunAtOnce) {
    Add("nvr", Port("nvr"), "NVR-1600", "1.0", 0);
    control_.StartUpgrade(1);
    // Nothing else would ever release the pages.
    EXPECT_EQ(page_.Events(),
              (std::vector<std::string>{"RunBegins", "Busy 1", "Busy 0", "RunEnds"}));
    EXPECT_EQ(control_.PendingDispatches(), 0);
    EXPECT_EQ(manager_.DispatchesBegun(), 0);
}

TEST_F(UpgradeDispatchTest, ADeviceOnTheNewestVersionEndsAsTheLatestFirmware) {
    store_.Hold("NVR-1600", {"1.0.0", "2.0.0"});
    Add("nvr", Port("nvr"), "NVR-1600", "2.0.0");
    Upgrade();
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    EXPECT_EQ(page_.Events(),
              (std::vector<std::string>{"RunBegins", "Busy 1", "Dispatched nvr",
                                        "Status nvr 32 -503", "Busy 0", "RunEnds"}));
    // The store is asked with the name discovery reported and the model the device gave.
    EXPECT_EQ(store_.Asked(), (std::vector<std::string>{"NVR-1600|V1|NVR-1600P"}));
    const CIPCamInfo stored = *table_.Find("nvr");
    EXPECT_EQ(stored.ProductModel, "NVR-1600P");
    EXPECT_EQ(stored.LatestFirmwareFile, "/store/NVR-1600_2.0.0.bin");
    EXPECT_EQ(stored.LatestFirmwareVersion, "2.0.0");
    EXPECT_EQ(page_.StatusesOf("nvr").back().FirmwareVersion, "2.0.0");
    EXPECT_TRUE(manager_.Jobs().empty());
    EXPECT_EQ(manager_.DispatchesBegun(), 1);
    EXPECT_EQ(manager_.DispatchesEnded(), 1);
}

// The store lists versions in byte order; each newer one goes, in that order.
TEST_F(UpgradeDispatchTest, NewerImagesInStoreOrderAndEveryImageForVersion100) {
    store_.Hold("NVR-1600", {"1.10", "1.9", "2.0"});
    Add("hundred", Port("nvr"), "NVR-1600", "100");
    Add("older", Port("nvr"), "NVR-1600", "1.9");
    Upgrade();
    ASSERT_NE(JobOf("hundred"), nullptr);
    EXPECT_EQ(JobOf("hundred")->ImageQueue,
              (std::deque<std::string>{"/store/NVR-1600_1.10.bin", "/store/NVR-1600_1.9.bin",
                                       "/store/NVR-1600_2.0.bin"}));
    ASSERT_NE(JobOf("older"), nullptr);
    EXPECT_EQ(JobOf("older")->ImageQueue,
              (std::deque<std::string>{"/store/NVR-1600_1.10.bin", "/store/NVR-1600_2.0.bin"}));
    // Handed over: the pages are released, and the upgrade manager ends the run.
    EXPECT_EQ(page_.Count("Busy 0"), 1);
    EXPECT_EQ(page_.Count("RunEnds"), 0);
    EXPECT_EQ(manager_.DispatchesEnded(), 1);

    const JobRequest& job = *JobOf("older");
    EXPECT_EQ(job.Scheme, "http");
    EXPECT_EQ(job.Host, "127.0.0.1");
    EXPECT_EQ(job.Port, Port("nvr"));
    EXPECT_EQ(job.UserName, "admin");
    EXPECT_EQ(job.Password, "vqmtz");
    EXPECT_EQ(job.RunFlag, 1);
    EXPECT_EQ(job.SingleModel, 0);
    // What the worker judges the device's return by.
    EXPECT_EQ(job.FirmwareVersion, "1.9");
    EXPECT_EQ(job.ImagesFromStore, 1);
}

TEST_F(UpgradeDispatchTest, ManualImageModeIgnoresTheStore) {
    store_.Hold("NVR-1600", {"9.0"});
    Add("nvr", Port("nvr"), "NVR-1600", "1.0");
    Add("stranger", ClosedPort(), "Unknown-1", "1.0");  // no model, no store match
    control_.SetManualImage("/home/tech/image.bin");
    EXPECT_EQ(control_.ManualImage(), "/home/tech/image.bin");
    Upgrade();
    for (const char* id : {"nvr", "stranger"}) {
        ASSERT_NE(JobOf(id), nullptr) << id;
        EXPECT_EQ(JobOf(id)->ImageQueue, (std::deque<std::string>{"/home/tech/image.bin"}));
        EXPECT_EQ(JobOf(id)->ImagesFromStore, 0) << "a hand-picked image's version is unknown";
    }
    EXPECT_EQ(table_.Find("nvr")->LatestFirmwareFile, "");

    control_.ClearManualImage();
    EXPECT_EQ(control_.ManualImage(), std::nullopt);
    table_.Modify("nvr", [](CIPCamInfo& r) { r.Checked = 0; });
    Upgrade();
    EXPECT_EQ(page_.Count("Status stranger 32 -503"), 1);
}

TEST_F(UpgradeDispatchTest, ARefusedModelQueryEndsAsPasswordErrorUnlessAnImageIsChosen) {
    Add("locked", Port("locked"), "NVR-1600", "1.0");
    Upgrade();
    EXPECT_EQ(page_.Count("Status locked 32 -301"), 1);
    EXPECT_TRUE(manager_.Jobs().empty());

    control_.SetManualImage("/images/a.bin");
    Upgrade();
    EXPECT_NE(JobOf("locked"), nullptr) << "the worker's log-in check will judge it";

    // Once its credential check was refused, nothing goes to it, chosen image or not: the
    // credentials again could lock the account.
    const size_t jobs = manager_.Jobs().size();
    table_.Modify("locked", [](CIPCamInfo& r) {
        r.CheckDone = 1;
        r.LoginRefused = 1;
    });
    Upgrade();
    EXPECT_EQ(page_.Count("Status locked 32 -304"), 1);
    EXPECT_EQ(manager_.Jobs().size(), jobs);
}

TEST_F(UpgradeDispatchTest, FamilyFlagsComeFromTheModelName) {
    const std::map<std::string, int> expected = {
        {"kt-710r-b", 0}, {"PLX-420S-A", 1}, {"plx-420s", 1}, {"NVR-1600", 0}, {"PLX-420", 0}};
    for (const auto& [model, single] : expected) Add(model, ClosedPort(), model, "1.0");
    control_.SetManualImage("/images/a.bin");
    Upgrade();
    for (const auto& [model, single] : expected) {
        const JobRequest* job = JobOf(model);
        ASSERT_NE(job, nullptr) << model;
        EXPECT_EQ(job->SingleModel, single) << model;
    }
}

// Many dispatch threads end at once: the pages are released once, after every status.
TEST_F(UpgradeDispatchTest, TheLastOfManyDispatchesReleasesThePagesOnce) {
    for (int n = 0; n < 24; ++n) Add("D" + std::to_string(n), ClosedPort(), "NVR-1600", "1.0");
    Upgrade();
    ASSERT_TRUE(page_.WaitFor("RunEnds", 5s));
    const std::vector<std::string> events = page_.Events();
    EXPECT_EQ(page_.Count("Busy 0"), 1);
    EXPECT_EQ(page_.Count("RunEnds"), 1);
    EXPECT_EQ(events[events.size() - 2], "Busy 0");
    EXPECT_EQ(events.back(), "RunEnds");
    for (int n = 0; n < 24; ++n) {
        EXPECT_EQ(page_.Count("Status D" + std::to_string(n) + " 32 -503"), 1);
    }
    EXPECT_EQ(control_.PendingDispatches(), 0);
}

// The page's thread calls StartUpgrade while a dispatch of the last command is still
// inside the page: the call returns at once instead of waiting for that thread.
TEST_F(UpgradeDispatchTest, StartUpgradeNeverWaitsForEarlierDispatchThreads) {
    HoldingPage& holding = holding_;
    control_.Attach(holding);
    Add("D0", ClosedPort(), "NVR-1600", "1.0");
    control_.StartUpgrade(1);
    ASSERT_TRUE(WaitUntil([&] { return holding.held_ == 1; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    control_.StartUpgrade(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    holding.released_ = true;
    ASSERT_TRUE(WaitUntil([&] { return page_.Count("Status D0 32 -503") == 2; }, 10s));
}

}  // namespace
