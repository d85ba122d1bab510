#include "schedule/scheduler.h"

#include <gtest/gtest.h>

#include <set>

#include "schedule/schedule_file.h"

namespace {

namespace st = schedule_status;

constexpr int64_t kTime = 1700000000;

// An entry with a usable address, as every entry the program adds has.
CScheduleInfo Addressed() {
    CScheduleInfo e;
    e.IP = "198.18.1.9";
    e.Port = "80";
    return e;
}

CScheduleInfo Waiting(const std::string& mac, int64_t time, const std::string& image = "/fw.bin") {
    CScheduleInfo e = Addressed();
    e.MAC = mac;
    e.UpgradeTime = time;
    e.Status = st::kWaiting;
    e.FWPath = image;
    return e;
}

class SchedulerTest : public ::testing::Test {
protected:
    std::vector<uint64_t> Tick(int64_t now) { return SchedulerTick(list_, now, exists_); }
    int StatusOf(uint64_t id) const { return list_.Find(id)->Info.Status; }

    std::set<std::string> files_{"/fw.bin"};
    FileExists exists_ = [this](const std::string& path) { return files_.count(path) > 0; };
    CScheduleList list_;
};

TEST_F(SchedulerTest, StartWindowIsTenSecondsInclusive) {
    struct Case {
        int64_t Late;
        int Status;
    } cases[] = {{-1, st::kWaiting}, {0, st::kQueued}, {5, st::kQueued},
                 {10, st::kQueued},  {11, st::kNone},  {100000, st::kNone}};
    for (const Case& c : cases) {
        CScheduleInfo e = Waiting("M", kTime);
        EXPECT_EQ(SchedulerStep(e, kTime + c.Late, exists_), c.Status != st::kWaiting) << c.Late;
        EXPECT_EQ(e.Status, c.Status) << c.Late;
    }
    // Extreme stored times neither overflow nor start.
    CScheduleInfo far = Waiting("M", INT64_MAX);
    EXPECT_FALSE(SchedulerStep(far, kTime, exists_));
    CScheduleInfo ancient = Waiting("M", INT64_MIN);
    SchedulerStep(ancient, kTime, exists_);
    EXPECT_EQ(ancient.Status, st::kNone);
}

TEST_F(SchedulerTest, LateByFiveStartsLateByElevenIsNeverStarted) {
    uint64_t late5 = list_.Append(Waiting("A", kTime - 5));
    uint64_t late11 = list_.Append(Waiting("B", kTime - 11));
    uint64_t future = list_.Append(Waiting("C", kTime + 60));
    EXPECT_EQ(Tick(kTime), (std::vector<uint64_t>{late5, late11}));
    EXPECT_EQ(StatusOf(late5), st::kQueued);
    EXPECT_EQ(StatusOf(late11), st::kNone);
    EXPECT_EQ(StatusOf(future), st::kWaiting);

    std::vector<CScheduledRun> runs = StarterTick(list_);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Id(), late5);
    EXPECT_EQ(StatusOf(late5), st::kUpgrading);
    EXPECT_EQ(list_.RunningCount(), 1);
    EXPECT_TRUE(StarterTick(list_).empty());  // nothing queued is left
    EXPECT_TRUE(Tick(kTime + 30).empty());    // none (0) stays; running entries are not touched
    EXPECT_EQ(StatusOf(late11), st::kNone);
}

TEST_F(SchedulerTest, MissingImageIsLostUntilItComesBack) {
    uint64_t id = list_.Append(Waiting("A", kTime + 60, "/moved.bin"));
    EXPECT_EQ(Tick(kTime), std::vector<uint64_t>{id});
    EXPECT_EQ(StatusOf(id), st::kFirmwareLost);
    EXPECT_TRUE(Tick(kTime + 1).empty());
    files_.insert("/moved.bin");
    EXPECT_EQ(Tick(kTime + 2), std::vector<uint64_t>{id});
    EXPECT_EQ(StatusOf(id), st::kWaiting);

    // Found again after its window passed: waiting and missed in the same tick.
    files_.erase("/moved.bin");
    Tick(kTime + 3);
    files_.insert("/moved.bin");
    EXPECT_EQ(Tick(kTime + 100), std::vector<uint64_t>{id});
    EXPECT_EQ(StatusOf(id), st::kNone);
}

TEST_F(SchedulerTest, OnlyWaitingAndLostEntriesAreTouched) {
    for (int status : {0, 2, 3, 4, 5, 6, 7, 8}) {
        CScheduleInfo e = Waiting("A", kTime, "/missing.bin");
        e.Status = status;
        EXPECT_FALSE(SchedulerStep(e, kTime, exists_)) << status;
        EXPECT_EQ(e.Status, status);
    }
}

TEST_F(SchedulerTest, ThirtyEntriesQueuedInOneSecondAllStartInOneTick) {
    for (int i = 0; i < 30; ++i) list_.Append(Waiting("M" + std::to_string(i), kTime));
    EXPECT_EQ(Tick(kTime).size(), 30u);
    std::vector<CScheduledRun> runs = StarterTick(list_);
    EXPECT_EQ(runs.size(), 30u);
    EXPECT_EQ(list_.RunningCount(), 30);
    for (const ScheduleEntry& e : list_.Entries()) {
        EXPECT_EQ(e.Info.Status, st::kUpgrading);
        EXPECT_TRUE(e.Running);
    }

    // With more than 25 running, further queued entries wait.
    uint64_t next = list_.Append(Waiting("N", kTime + 1));
    Tick(kTime + 1);
    EXPECT_TRUE(StarterTick(list_).empty());
    EXPECT_EQ(StatusOf(next), st::kQueued);
    for (int i = 0; i < 5; ++i) runs[i].Finish(st::kSuccessful);
    EXPECT_EQ(list_.RunningCount(), 25);
    ASSERT_EQ(StarterTick(list_).size(), 1u);
}

TEST_F(SchedulerTest, AHandEditedAddressIsShownInvalidAndNeverUsed) {
    struct Case {
        std::string IP;
        std::string Port;
        bool Usable;
        std::string OnvifService = "";
    };
    const Case cases[] = {
        {"198.18.1.9", "80", true},
        {"198.18.1.9", "80", true, "/onvif/device_service"},
        {"198.18.1.9", "80", true, "/onvif/@x;v=1"},
        // A service that would name another host, or what no path holds.
        {"198.18.1.9", "80", false, "@evil.example/onvif"},
        {"198.18.1.9", "80", false, "//evil.example/onvif"},
        {"198.18.1.9", "80", false, "/onvif device"},
        {"198.18.1.9", "80", false, "/onvif\\x"},
        {"198.18.1.9", "80", false, "/"},
        {"10.0.0.255", "65535", true},
        {"cam-7.site.example", "1", true},
        {"localhost", "8080", true},
        {"198.18.1.9", "0", false},
        {"198.18.1.9", "65536", false},
        {"198.18.1.9", "-80", false},
        {"198.18.1.9", "80 ", false},
        {"198.18.1.9", "", false},
        {"198.18.1.9", "99999999999999999999", false},
        {"198.18.1.256", "80", false},
        {"198.18.1", "80", false},
        {"198.18.01.9", "80", false},  // read as octal by some
        {"", "80", false},
        {"evil.example/phish?x=", "80", false},
        {"user@198.18.1.9", "80", false},
        {"198.18.1.9:81", "80", false},
        {"[::1]", "80", false},
        {"-cam.example", "80", false},
        {"cam..example", "80", false},
        {"cam.example.", "80", false},
        {"cam\x1b[2J", "80", false},
        {std::string(64, 'a') + ".example", "80", false},
    };
    for (const Case& c : cases) {
        CScheduleInfo e = Waiting("A", kTime);
        e.IP = c.IP;
        e.Port = c.Port;
        e.OnvifService = c.OnvifService;
        EXPECT_EQ(HasUsableAddress(e), c.Usable) << c.IP << " " << c.Port << c.OnvifService;
        // Its time has come: only a usable entry is queued for a start.
        EXPECT_EQ(SchedulerStep(e, kTime, exists_), c.Usable) << c.IP << " " << c.Port;
        EXPECT_EQ(e.Status, c.Usable ? st::kQueued : st::kWaiting);
        EXPECT_EQ(StatusText(e, DefaultText) == "Invalid address", !c.Usable) << c.IP;
    }
    // Nor is one started that comes queued: a file may say anything.
    CScheduleInfo queued = Waiting("Q", kTime);
    queued.IP = "evil.example/phish?x=";
    queued.Status = st::kQueued;
    list_.Append(queued);
    EXPECT_TRUE(StarterTick(list_).empty());
}

TEST(StatusTextTest, EveryStatusHasItsText) {
    const TextLookup lookup = DefaultText;
    const std::pair<int, const char*> expected[] = {
        {0, "NONE"},         {1, "Waiting"}, {2, "Queue"},
        {9, "FW File lost"}, {42, "NONE"},   {6, "Failed! Please check the username and password."},
    };
    for (auto [status, text] : expected) {
        CScheduleInfo e = Addressed();
        e.Status = status;
        EXPECT_EQ(StatusText(e, lookup), text) << status;
    }

    CScheduleInfo uploading = Addressed();
    uploading.Status = st::kUploading;
    EXPECT_EQ(StatusText(uploading, lookup),
              "Uploading file... Please wait a few minutes. (0%)");  // size not known yet
    uploading.TotalBytes = 1000;
    uploading.SentBytes = 370;
    EXPECT_EQ(StatusText(uploading, lookup), "Uploading file... Please wait a few minutes. (37%)");

    const TextLookup layout = [](std::string_view section, std::string_view key,
                                 std::string_view def) {
        return std::string(section) + "/" + std::string(key) + (def.empty() ? "" : "!");
    };
    EXPECT_EQ(StatusText(uploading, layout), "ErrorCode/Code_Uploading! (37%)");
    uploading.Status = st::kFirmwareLost;
    EXPECT_EQ(StatusText(uploading, layout), "SchedulePage/FWLostStatus!");

    CScheduleInfo late = Addressed();
    late.Status = st::kPastWindow;
    late.Until = "05:30";
    EXPECT_EQ(StatusText(late, lookup), "Not started: it would not finish before 05:30.");
    EXPECT_EQ(StatusText(late, layout), "ErrorCode/Code_603!");
}

TEST(StatusTextTest, UploadPercentTruncatesInSinglePrecision) {
    EXPECT_EQ(UploadPercent(0, 0), 0);
    EXPECT_EQ(UploadPercent(-5, 0), 0);
    EXPECT_EQ(UploadPercent(3, 1), 33);
    EXPECT_EQ(UploadPercent(3, 2), 66);
    EXPECT_EQ(UploadPercent(3, 3), 100);
    EXPECT_EQ(UploadPercent(100000000, 99999999), 100);  // one byte left is below float precision
    EXPECT_EQ(UploadPercent(int64_t{1} << 40, int64_t{1} << 39), 50);
}

}  // namespace
