// The late watch against simulated devices: one that restarts after its wait ended and
// comes back with the new firmware is reported once, with its version; one that never
// comes back, or still answers with its old firmware, is not, and is given up in time.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "base/result_codes.h"
#include "families/maker/job_exchanges.h"
#include "support/devsim_process.h"
#include "support/recording_page.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"
#include "upgrade/late_return_watch.h"
#include "upgrade/upgrade_manager.h"
#include "upload_images.h"

namespace {

using namespace std::chrono_literals;

TEST(LateReturnWatchTest, ReportsOnlyADeviceBackWithItsNewFirmware) {
    ClearProxyEnvironment();
    TempDir dir;
    dir.Write("image.bin", MarkedImage(20000, "2.0.1"));
    // "late" restarts three real seconds after it took the image; "gone" never comes
    // back; "old" takes no image and answers with its old firmware throughout.
    DevsimProcess sim({"--device", "id=late,reboot_seconds=3", "--device",
                       "id=gone,reboot_seconds=0,fault=never_back", "--device", "id=old"});
    const Clock clock(100);          // a look every 0.3 s
    CUpgradeManager manager(clock);  // no camera control: the looks go over HTTP only
    std::mutex lock;
    std::map<std::string, std::string> returned;
    int reports = 0;
    // Each is watched for ten minutes of the clock, six real seconds: enough for "late".
    CLateReturnWatch watch(clock, 600000, [&](const std::string& id, const std::string& version) {
        std::lock_guard guard(lock);
        returned[id] = version;
        ++reports;
    });

    for (const char* id : {"late", "gone", "old"}) {
        UpgradeJob job;
        job.DeviceId = id;
        job.UserName = "admin";
        job.Password = "vqmtz";
        job.FirmwareBefore = "1.0.0";
        job.ImagesFromStore = 1;
        job.Manager = &manager;
        job.SetAddress({"http", "127.0.0.1", sim.DeviceById(id).HttpPort});
        if (std::string(id) != "old") {
            job.ImageQueue = {dir.File("image.bin")};
            ASSERT_EQ(UploadFrontImageCgiMain(job), rc::kOk) << id;
        }
        watch.Watch(job);
    }
    EXPECT_EQ(watch.Watching(), 3);
    ASSERT_TRUE(WaitUntil([&] { return watch.Watching() == 0; }, 30s));
    std::lock_guard guard(lock);
    EXPECT_EQ(returned, (std::map<std::string, std::string>{{"late", "2.0.1"}}));
    EXPECT_EQ(reports, 1);
}

// A device forgotten (a new upgrade of it began) or a watch stopped reports nothing.
TEST(LateReturnWatchTest, ForgottenDevicesAndAStoppedWatchReportNothing) {
    const Clock clock(1000);
    int reports = 0;
    CLateReturnWatch watch(clock, 3600000,
                           [&](const std::string&, const std::string&) { ++reports; });
    UpgradeJob job;
    job.DeviceId = "A";
    // A port nobody listens on: every look goes unanswered at once.
    job.SetAddress({"http", "127.0.0.1", 9});
    watch.Watch(job);
    watch.Watch(job);  // watched afresh, not twice
    EXPECT_EQ(watch.Watching(), 1);
    watch.Forget("A");
    EXPECT_EQ(watch.Watching(), 0);
    watch.Watch(job);
    watch.Stop();
    watch.Stop();
    EXPECT_EQ(reports, 0);
}

}  // namespace
