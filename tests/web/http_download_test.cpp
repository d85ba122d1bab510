// Resumable file downloads: the size header, resume, restart, cancel, stall limits and
// progress.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "base/result_codes.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "web/download_progress.h"
#include "web/http_download.h"
#include "web/web_client.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kImageSize = 300000;

class Progress : public IDownloadProgressReceiver {
public:
    void OnDownloadProgress(const DownloadProgress& p) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(p);
    }
    std::vector<DownloadProgress> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    std::mutex mutex_;
    std::vector<DownloadProgress> reports_;
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        image_ = PatternBytes(kImageSize);
        folder_.Write("image.bin", image_);
    }

    // A firmware server over the folder, with extra settings such as faults.
    void StartServer(const std::string& extra = "") {
        sim_ = std::make_unique<DevsimProcess>(std::vector<std::string>{
            "--firmware-server", "folder=" + folder_.Path() + (extra.empty() ? "" : "," + extra)});
    }

    int Download(std::string& path, DownloadItemBase& item, int timeoutMs = 2000) {
        CHTTPDownload sink(item, "series", 0, static_cast<int64_t>(kImageSize));
        return HttpFetch(sink, "", "", LocalUrl(sim_->FirmwareServerPort(), "/image.bin"),
                         timeoutMs, path);
    }

    std::string Complete() const { return SizeHeader(kImageSize) + image_; }

    TempDir folder_;
    TempDir store_;
    std::string image_;
    std::unique_ptr<DevsimProcess> sim_;
};

TEST_F(DownloadTest, FreshPartialCompleteAndHeaderlessFiles) {
    StartServer();
    DownloadItemBase item;
    std::string path = store_.File("image.bin");

    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());

    // The held bytes are marked: a ranged answer is appended after them untouched.
    const size_t held = 123457;
    store_.Write("image.bin", SizeHeader(kImageSize) + std::string(held, 'X'));
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"),
              SizeHeader(kImageSize) + std::string(held, 'X') + image_.substr(held));

    // A complete (or over-long) file is fetched again from scratch.
    store_.Write("image.bin", SizeHeader(kImageSize) + std::string(kImageSize, 'Y'));
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
    store_.Write("image.bin", SizeHeader(10) + std::string(11, 'Y'));
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());

    // Too short for a header, or only a header.
    store_.Write("image.bin", "ab");
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
    store_.Write("image.bin", SizeHeader(kImageSize));
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
}

TEST_F(DownloadTest, WholeBodyAnswerToARangeStartsTheFileOver) {
    StartServer("fault=ignore_range");
    DownloadItemBase item;
    std::string path = store_.File("image.bin");
    // An old, different header and marked bytes: none of it may survive.
    store_.Write("image.bin", SizeHeader(kImageSize + 99) + std::string(5000, 'X'));
    ASSERT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
}

TEST_F(DownloadTest, DroppedConnectionKeepsWhatArrivedAndResumes) {
    StartServer("fault=drop_mid_body:150000");
    DownloadItemBase item;
    std::string path = store_.File("image.bin");
    EXPECT_EQ(Download(path, item), rc::kFailed);
    // Whole chunks only, never more than arrived; each retry gets one chunk further.
    EXPECT_EQ(store_.Read("image.bin"), Complete().substr(0, 4 + 102400));
    EXPECT_EQ(Download(path, item), rc::kFailed);
    EXPECT_EQ(store_.Read("image.bin"), Complete().substr(0, 4 + 2 * 102400));
    EXPECT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
}

// Asks its item to stop once the first chunk is written, as a user's cancel between
// chunks would: no wall-clock guess of when the transfer is under way.
class CancelAfterFirstChunk : public CHTTPDownload {
public:
    explicit CancelAfterFirstChunk(DownloadItemBase& item)
        : CHTTPDownload(item, "series", 0, static_cast<int64_t>(kImageSize)), item_(item) {}
    void ReportProgress(int received, int remaining) override {
        CHTTPDownload::ReportProgress(received, remaining);
        item_.Cancelled = true;
    }

private:
    DownloadItemBase& item_;
};

TEST_F(DownloadTest, CancelStopsBetweenChunksAndTheFileResumesLater) {
    StartServer("fault=rate_limit:400000");
    DownloadItemBase item;
    std::string path = store_.File("image.bin");
    CancelAfterFirstChunk cancelling(item);
    EXPECT_EQ(HttpFetch(cancelling, "", "", LocalUrl(sim_->FirmwareServerPort(), "/image.bin"),
                        2000, path),
              rc::kCancelled);
    // The chunk in hand when the cancel came is dropped, never half written.
    EXPECT_EQ(store_.Read("image.bin"), Complete().substr(0, 4 + 102400));

    item.Cancelled = false;
    EXPECT_EQ(Download(path, item), 0);
    EXPECT_EQ(store_.Read("image.bin"), Complete());
}

TEST_F(DownloadTest, SlowSteadyTransferOutlivesTheTimeoutAndReportsProgress) {
    StartServer("fault=rate_limit:100000");
    Progress progress;
    DownloadItemBase item;
    item.Model = "NVR-1600";
    item.HWVer = "V1";
    item.FWVer = "2.0.1";
    item.LocalPath = store_.File("image.bin");
    item.Progress = &progress;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Download(item.LocalPath, item, 1000), 0);
    EXPECT_GT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(store_.Read("image.bin"), Complete());

    const auto reports = progress.Reports();
    ASSERT_GE(reports.size(), 1u);
    EXPECT_LE(reports.size(), 3u);  // at most about once a second
    for (const DownloadProgress& r : reports) {
        EXPECT_EQ(r.Label, "series");
        EXPECT_EQ(r.Model, "NVR-1600");
        EXPECT_EQ(r.FWVer, "2.0.1");
        EXPECT_EQ(r.LocalPath, item.LocalPath);
        EXPECT_GT(r.Percent, 0);
        EXPECT_LT(r.Percent, 100);
        EXPECT_EQ(r.State, 0);
    }
}

TEST_F(DownloadTest, StalledTransferTimesOut) {
    StartServer("fault=stall_mid_body:8000");
    DownloadItemBase item;
    std::string path = store_.File("image.bin");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Download(path, item, 1000), rc::kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    // What arrived stays for the next attempt.
    EXPECT_EQ(store_.Read("image.bin"), Complete().substr(0, 4 + 102400));
}

TEST(DownloadProgressEstimatorTest, ReportsOncePerSecondWithTheMeanOfThreeEstimates) {
    // Batch of 1000 bytes; this item has 300 bytes to come, later items 200.
    DownloadProgressEstimator estimator(200, 1000);
    estimator.Start(0);
    int seconds = -1;
    int percent = -1;
    EXPECT_FALSE(estimator.Add(100, 300, 1000, seconds, percent));  // not yet over a second
    ASSERT_TRUE(estimator.Add(100, 300, 1001, seconds, percent));
    EXPECT_EQ(percent, 50);
    EXPECT_EQ(seconds, 2);  // 500 left / 200 bytes * 1.001 s

    ASSERT_TRUE(estimator.Add(50, 250, 3002, seconds, percent));  // 450 / 50 * 2.001 = 18
    EXPECT_EQ(seconds, (2 + 18) / 2);
    ASSERT_TRUE(estimator.Add(250, 0, 4003, seconds, percent));  // 200 / 250 * 1.001 = 0
    EXPECT_EQ(seconds, (2 + 18 + 0) / 3);
    EXPECT_EQ(percent, 80);
    ASSERT_TRUE(estimator.Add(100, 0, 5004, seconds, percent));  // 200 / 100 * 1.001 = 2
    EXPECT_EQ(seconds, (18 + 0 + 2) / 3);                        // the first one is gone
    EXPECT_FALSE(estimator.Add(0, 0, 7000, seconds, percent));   // no bytes since

    // The last chunk of the batch's last item is never reported, and an empty batch
    // shows 0 percent instead of dividing by zero.
    DownloadProgressEstimator last(0, 0);
    last.Start(0);
    EXPECT_FALSE(last.Add(500, 0, 5000, seconds, percent));
    ASSERT_TRUE(last.Add(500, 100, 9000, seconds, percent));
    EXPECT_EQ(percent, 0);
}

TEST(DownloadProgressEstimatorTest, StaysWithinBoundsWhateverTheSizes) {
    int seconds = -1;
    int percent = -1;
    // The server sends more than the catalogue's 100 bytes: all done, not -900 %.
    DownloadProgressEstimator over(0, 100);
    over.Start(0);
    ASSERT_TRUE(over.Add(10, 1000 - 1100, 2000, seconds, percent));
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(seconds, 0);
    ASSERT_TRUE(over.Add(10, INT64_MIN, 4000, seconds, percent));
    EXPECT_EQ(percent, 100);

    // A trickle on a huge batch: three capped estimates, no overflow in their mean,
    // and a time a display can show.
    DownloadProgressEstimator trickle(INT64_MAX - 10, INT64_MAX);
    trickle.Start(0);
    for (int64_t now : {2000, 4000, 6000}) {
        ASSERT_TRUE(trickle.Add(1, 5, now, seconds, percent));
        EXPECT_GE(seconds, 0);
        EXPECT_LE(seconds, 99 * 3600 + 59 * 60 + 59);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_EQ(seconds, 99 * 3600 + 59 * 60 + 59);
}

}  // namespace
