// The download manager and coordinator against devsim's firmware server: queueing,
// verification, retries, resume, free space and cancelling. Retry waits run on a fast
// clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/clock.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_job.h"
#include "firmware/download_status.h"
#include "firmware/store_download_sink.h"
#include "firmware_test_support.h"
#include "support/web_test_support.h"
#include "web/download_progress.h"

namespace {

using namespace std::chrono_literals;

const WaitStep kShortWait = [](std::chrono::milliseconds) { std::this_thread::sleep_for(2ms); };

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    void TearDown() override {
        // The order of the program's shut-down: coordinator, manager, catalogue.
        coordinator_.reset();
        manager_.reset();
        catalog_.reset();
    }

    // Puts `images` (file name → bytes) and a catalogue naming `records` on the server.
    void Publish(const std::vector<CatalogRecord>& records,
                 const std::map<std::string, std::string>& images) {
        for (const auto& [file, bytes] : images) server_.Write(file, bytes);
        server_.Write("Firmware_V2.xml", ServerCatalogText(records));
    }

    // Starts the server and the store, merging the server's catalogue.
    void Start(const std::string& faults = "") {
        sim_ = std::make_unique<FirmwareServerFixture>(server_, faults);
        StartStore(sim_->Base());
        ASSERT_EQ(catalog_->FetchServerCatalog(), 0);
        view_.Clear();
    }

    void StartStore(const std::string& base) {
        catalog_ = std::make_unique<CFirmwareCatalog>(store_.Path(), base, [] { return true; });
        manager_ = std::make_unique<CDownloadManager>(
            clock_, [this](const std::string&) { return FreeSpace(); });
        coordinator_ = std::make_unique<CDownloadCoordinator>(*manager_, *catalog_);
        coordinator_->AddPage(&view_);
        ASSERT_TRUE(catalog_->ReadLocalCatalog());
    }

    // The free-space probe: unknown (-1) while grants_ is negative; otherwise each call
    // uses up one grant of plenty, and without grants the disk is full.
    int64_t FreeSpace() {
        int64_t grants = grants_.load();
        while (grants > 0 && !grants_.compare_exchange_weak(grants, grants - 1)) {
        }
        if (grants < 0) return -1;
        return grants > 0 ? int64_t{1} << 40 : 0;
    }

    std::string Stored(const std::string& file) const { return store_.Read(file); }
    bool InStore(const std::string& file) const {
        return std::filesystem::exists(store_.File(file));
    }
    int64_t StoreFileSize(const std::string& file) const {
        std::error_code error;
        const auto size = std::filesystem::file_size(store_.File(file), error);
        return error ? -1 : static_cast<int64_t>(size);
    }

    RecordingView view_;
    Clock clock_{1000.0};  // a 5 s retry wait takes 5 ms
    std::atomic<int64_t> grants_{-1};
    TempDir server_;
    TempDir store_;
    std::unique_ptr<FirmwareServerFixture> sim_;
    std::unique_ptr<CFirmwareCatalog> catalog_;
    std::unique_ptr<CDownloadManager> manager_;
    std::unique_ptr<CDownloadCoordinator> coordinator_;
};

TEST_F(DownloadTest, SeriesIsDownloadedVerifiedAndRecordedOncePerFile) {
    const std::string a = PatternBytes(300000, 'a');
    const std::string b = PatternBytes(250000, 'b');
    // M3 uses M1's image: the file is fetched once.
    Publish({Record("S1", "M1", "1.0", "a.bin", a), Record("S1", "M2", "1.0", "b.bin", b),
             Record("S1", "M3", "1.0", "a.bin", a)},
            {{"a.bin", a}, {"b.bin", b}});
    Start();
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(view_.WaitFor("status S1 2 0 100"));
    ASSERT_TRUE(view_.WaitFor("all-finished"));
    EXPECT_EQ(view_.EventsStartingWith("queued"), std::vector<std::string>{"queued S1 0"});
    EXPECT_EQ(view_.Count("status S1 1 0 100"), 2);
    EXPECT_EQ(sim_->RangesAskedFor("/a.bin"), std::vector<std::string>{"-"});
    EXPECT_EQ(Stored("a.bin"), StoredImage(a));
    EXPECT_EQ(Stored("b.bin"), StoredImage(b));
    EXPECT_FALSE(catalog_->AnyNeedsDownload("S1"));
    EXPECT_NE(
        Stored("firmware.xml").find("Model=\"M3\" HWVer=\"H1\" FWVer=\"1.0\" Filename=\"a.bin\""),
        std::string::npos);

    // Asked again: everything is stored and sound, nothing is queued or fetched.
    view_.Clear();
    coordinator_->DownloadSeries("S1");
    EXPECT_EQ(view_.Events(), std::vector<std::string>{"queued S1 1"});
    EXPECT_FALSE(manager_->HasWork());
    EXPECT_EQ(sim_->RangesAskedFor("/b.bin").size(), 1u);
}

TEST_F(DownloadTest, FiveSeriesRunAtOnceAndAQueuedOneIsCancelledAtOnce) {
    std::vector<CatalogRecord> records;
    std::map<std::string, std::string> images;
    for (int k = 1; k <= 7; ++k) {
        const std::string file = "f" + std::to_string(k) + ".bin";
        images[file] = PatternBytes(1000, static_cast<char>('a' + k));
        records.push_back(Record("S" + std::to_string(k), "M", "1.0", file, images[file]));
    }
    Publish(records, images);
    Start("fault=delay:300");  // every answer takes a while, so jobs overlap
    for (int k = 1; k <= 7; ++k) coordinator_->SelectSeries("S" + std::to_string(k));
    coordinator_->DownloadSelected();
    for (int k = 1; k <= 5; ++k) EXPECT_FALSE(manager_->IsSeriesIdle("S" + std::to_string(k)));
    EXPECT_TRUE(manager_->IsSeriesIdle("S6"));
    EXPECT_TRUE(manager_->IsSeriesIdle("S7"));

    // Queued only: removed, and stopped before the call returns.
    coordinator_->CancelSeries("S7", kShortWait);
    EXPECT_GE(view_.IndexOf("status S7 4 0 100"), 0);

    // The sixth starts once one of the five ended.
    ASSERT_TRUE(view_.WaitFor("status S6 2 0 100"));
    const auto events = view_.Events();
    const auto firstEnd = std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.rfind("status S", 0) == 0 && e.find(" 2 0 100") != std::string::npos;
    });
    const auto sixthStored = std::find(events.begin(), events.end(), "status S6 1 0 100");
    EXPECT_LT(firstEnd, sixthStored);
    for (int k = 1; k <= 6; ++k) EXPECT_TRUE(InStore("f" + std::to_string(k) + ".bin")) << k;
    EXPECT_TRUE(sim_->RangesAskedFor("/f7.bin").empty());
    EXPECT_FALSE(InStore("f7.bin"));
}

TEST_F(DownloadTest, RefusedConnectionIsANetworkErrorRetriedUntilCancelled) {
    const std::string image = PatternBytes(5000);
    StartStore("http://127.0.0.1:" + std::to_string(ClosedPort()));
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        ServerCatalogText({Record("S1", "M1", "1.0", "a.bin", image)})));
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(WaitUntil([&] { return view_.Count("status S1 8 0 100") >= 3; }));
    coordinator_->CancelSeries("S1", kShortWait);
    EXPECT_TRUE(manager_->IsSeriesIdle("S1"));
    const auto events = view_.Events();
    EXPECT_EQ(events.back(), "status S1 4 0 100");
    EXPECT_EQ(view_.Count("status S1 2 0 100"), 0);
    EXPECT_EQ(view_.Count("all-finished"), 0);
}

TEST_F(DownloadTest, MissingImageIsRetriedQuietlyAndStopsWithTheManager) {
    const std::string image = PatternBytes(5000);
    Publish({Record("S1", "M1", "1.0", "absent.bin", image)}, {});
    Start();
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(WaitUntil([&] { return sim_->RangesAskedFor("/absent.bin").size() >= 3; }));
    // A 404 shows no status; the series keeps its "Waiting" row while it retries.
    EXPECT_EQ(view_.Events(), std::vector<std::string>{"queued S1 0"});
    // Shut-down with the job still retrying: the coordinator goes first, then the
    // manager stops the job and joins its workers.
    coordinator_.reset();
    const auto start = std::chrono::steady_clock::now();
    manager_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(view_.Events().back(), "status S1 4 0 100");
}

TEST_F(DownloadTest, PartialImagesAreResumedOrStartedOverWhenTheServerFileChanged) {
    const std::string a = PatternBytes(400000, 'a');
    const std::string b = PatternBytes(300000, 'b');
    const std::string c = PatternBytes(1000, 'c');
    Publish({Record("S1", "M1", "1.0", "a.bin", a), Record("S1", "M2", "1.0", "b.bin", b),
             Record("S1", "M3", "1.0", "c.bin", c)},
            {{"a.bin", a}, {"b.bin", b}, {"c.bin", c}});
    // a.bin: left off by an earlier run. b.bin: the start of an older, smaller file of
    // that name. c.bin: more held than the server's file has.
    store_.Write("a.bin", StoredImage(a).substr(0, 4 + 123457));
    store_.Write("b.bin", SizeHeader(200000) + PatternBytes(1000, 'x'));
    store_.Write("c.bin", SizeHeader(5000) + std::string(2000, 'y'));
    Start();
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(view_.WaitFor("status S1 2 0 100"));
    EXPECT_EQ(view_.Count("status S1 1 0 100"), 3);
    EXPECT_EQ(sim_->RangesAskedFor("/a.bin"), std::vector<std::string>{"bytes=123457-"});
    EXPECT_EQ(sim_->RangesAskedFor("/b.bin"), (std::vector<std::string>{"bytes=1000-", "-"}));
    EXPECT_EQ(sim_->RangesAskedFor("/c.bin"), (std::vector<std::string>{"bytes=2000-", "-"}));
    EXPECT_EQ(Stored("a.bin"), StoredImage(a));
    EXPECT_EQ(Stored("b.bin"), StoredImage(b));
    EXPECT_EQ(Stored("c.bin"), StoredImage(c));
}

TEST_F(DownloadTest, ImageFailingItsMd5CheckIsDeletedAndTheSeriesEndsStopped) {
    const std::string good = PatternBytes(3000, 'g');
    CatalogRecord bad = Record("S1", "M2", "1.0", "bad.bin", good);
    bad.MD5 = Md5Of("something else");
    Publish({Record("S1", "M1", "1.0", "good.bin", good), bad},
            {{"good.bin", good}, {"bad.bin", good}});
    Start();
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(view_.WaitFor("status S1 4 0 100"));
    EXPECT_EQ(view_.Count("status S1 1 0 100"), 1);
    EXPECT_EQ(view_.Count("status S1 2 0 100"), 0);
    EXPECT_FALSE(InStore("bad.bin"));
    EXPECT_TRUE(catalog_->NeedsDownload("S1", 1));
    EXPECT_FALSE(catalog_->NeedsDownload("S1", 0));
}

TEST_F(DownloadTest, FullDiskWaitsForSpaceAndKeepsAResumablePrefix) {
    const std::string image = PatternBytes(500000);
    Publish({Record("S1", "M1", "1.0", "big.bin", image)}, {{"big.bin", image}});
    Start();
    grants_ = 0;  // full from the start: nothing is even asked for
    coordinator_->DownloadSeries("S1");
    ASSERT_TRUE(WaitUntil([&] { return view_.Count("status S1 16 0 100") >= 3; }));
    EXPECT_TRUE(sim_->RangesAskedFor("/big.bin").empty());
    EXPECT_FALSE(InStore("big.bin"));

    // Room for the check before the request and two chunks, then full again.
    grants_ = 3;
    ASSERT_TRUE(WaitUntil([&] { return StoreFileSize("big.bin") == 4 + 2 * 102400; }));
    const int shortages = view_.Count("status S1 16 0 100");
    ASSERT_TRUE(WaitUntil([&] { return view_.Count("status S1 16 0 100") > shortages; }));
    EXPECT_EQ(sim_->RangesAskedFor("/big.bin"), std::vector<std::string>{"-"});
    EXPECT_EQ(Stored("big.bin"), StoredImage(image).substr(0, 4 + 2 * 102400));

    grants_ = -1;  // space again
    ASSERT_TRUE(view_.WaitFor("status S1 2 0 100"));
    EXPECT_EQ(sim_->RangesAskedFor("/big.bin"), (std::vector<std::string>{"-", "bytes=204800-"}));
    EXPECT_EQ(Stored("big.bin"), StoredImage(image));
    // One notice for the whole shortage.
    EXPECT_EQ(view_.Count("disk-full"), 1);
}

TEST_F(DownloadTest, ProgressCountsImagesAlreadyStoredAsDone) {
    // A (300 bytes) is stored; B (500) and C (200) are queued: with 300 bytes of B still
    // to come, half of the series' 1000 bytes are there.
    const std::string a = PatternBytes(300, 'a');
    StartStore("http://127.0.0.1:9");
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        ServerCatalogText({Record("S1", "A", "1.0", "a.bin", a),
                           Record("S1", "B", "1.0", "b.bin", PatternBytes(500, 'b')),
                           Record("S1", "C", "1.0", "c.bin", PatternBytes(200, 'c'))})));
    EXPECT_EQ(catalog_->SeriesTotalSize("S1"), 1000);
    CDownloadJob job;
    job.Items.resize(2);
    job.Items[0].Size = 500;
    job.Items[1].Size = 200;
    job.TotalBytes = catalog_->SeriesTotalSize("S1");
    DownloadProgressEstimator estimator(job.BytesAfter(0), job.TotalBytes);
    estimator.Start(0);
    int secondsLeft = 0;
    int percent = 0;
    ASSERT_TRUE(estimator.Add(200, 300, 1001, secondsLeft, percent));
    EXPECT_EQ(percent, 50);
    EXPECT_EQ(job.BytesAfter(1), 0);
    EXPECT_EQ(ProgressText(3725, 42), "42% (01:02:05 left)");
}

TEST_F(DownloadTest, StopsWhileOfflineShowTheStoreState) {
    const std::string a = PatternBytes(300, 'a');
    StartStore("http://127.0.0.1:9");
    ASSERT_TRUE(catalog_->ParseServerCatalog(ServerCatalogText(
        {Record("Held", "A", "1.0", "a.bin", a), Record("Missing", "B", "1.0", "b.bin", a)})));
    store_.Write("a.bin", StoredImage(a));
    catalog_->MarkDownloaded("Held", "A", "H1", "1.0");
    manager_->SetOffline(true);
    view_.Clear();
    manager_->StopSeries("Held");
    manager_->StopSeries("Missing");
    coordinator_->CancelAll(kShortWait);
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"status Held 2 0 100",
                                                        "status Missing 4 0 100", "refresh"}));
}

TEST(DownloadSizesTest, HugeAnnouncedSizesNeitherWrapTotalsNorPassTheSpaceCheck) {
    TempDir dir;
    const std::string path = dir.File("x.bin");
    const FreeSpaceProbe nearlyFull = [](const std::string&) { return int64_t{1000}; };
    EXPECT_FALSE(RoomForImage(nearlyFull, path, INT64_MAX));
    EXPECT_FALSE(RoomForImage(nearlyFull, path, INT64_MAX - 3));
    EXPECT_TRUE(RoomForImage(nearlyFull, path, 996));

    // "Content-Length: 9223372036854775807" on a nearly full disk: nothing is written.
    CDownloadItem item;
    CStoreDownloadSink sink(item, "S", 0, 0, nearlyFull);
    std::string target = path;
    sink.BeginBody(target, INT64_MAX);
    sink.WriteBody("abc", 3);
    sink.EndBody(target);
    EXPECT_FALSE(item.SpaceOK);

    CDownloadJob job;
    job.Items.resize(3);
    job.Items[1].Size = INT64_MAX;
    job.Items[2].Size = INT64_MAX;
    EXPECT_EQ(job.BytesAfter(0), INT64_MAX);
}

}  // namespace
