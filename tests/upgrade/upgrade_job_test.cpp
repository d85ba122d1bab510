// What other threads see of a job while it runs.
#include "pipeline/upgrade_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "capture_server.h"
#include "families/maker/job_exchanges.h"
#include "support/temp_dir.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

TEST(UpgradeJobTest, ProgressCanBeReadWhileTheImageGoesOut) {
    TempDir dir;
    // Larger than what the sockets can hold, and held up halfway for a moment.
    const int64_t size = 8 << 20;
    dir.Write("image.bin", MarkedImage(static_cast<size_t>(size)));
    CaptureServer device({.ReceiveBuffer = 4096, .PauseAfter = size / 2, .PauseFor = 200ms});
    UpgradeJob job;
    job.UserName = "admin";
    job.Password = "vqmtz";
    job.ImageQueue = {dir.File("image.bin")};
    job.SetAddress({"http", "127.0.0.1", device.Port()});

    std::thread upload([&job] { UploadFrontImageCgiMain(job); });
    // The worker's view: once a second in the program, far more often here.
    std::vector<int64_t> seen;
    while (job.BytesSent < size && seen.size() < 10000) {
        const int64_t total = job.ImageSize;
        const int64_t sent = job.BytesSent;
        EXPECT_TRUE(total == 0 || total == size);
        seen.push_back(sent);
        std::this_thread::sleep_for(1ms);
    }
    upload.join();
    EXPECT_EQ(job.Result, 0);
    EXPECT_EQ(job.BytesSent, size);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(
        std::any_of(seen.begin(), seen.end(), [&](int64_t s) { return s > 0 && s < size; }));
}

TEST(UpgradeJobTest, SeenAgainComesWithItsNewAddress) {
    UpgradeJob job;
    job.SetAddress({"http", "10.0.0.5", 80});
    std::thread search([&job] { job.MarkSeenAgain({"https", "10.0.0.9", 8443}); });
    while (!job.SeenAgain) std::this_thread::yield();
    const JobAddress address = job.Address();
    EXPECT_EQ(address.Scheme, "https");
    EXPECT_EQ(address.Host, "10.0.0.9");
    EXPECT_EQ(address.Port, 8443);
    search.join();
}

}  // namespace
