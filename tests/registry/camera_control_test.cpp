// The camera control's bookkeeping of reported devices and its notifications, without a
// network: reports are made by direct calls, as the engine's receive thread makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "registry/camera_control.h"
#include "registry_fakes.h"

namespace {

CIPCamInfo Reported(const std::string& id) {
    CIPCamInfo r;
    r.DeviceId = id;
    r.HostAddress = "198.18.1.1";
    return r;
}

TEST(CameraControlTest, ReportsAreStoredAndEveryObserverHearsOfThem) {
    CCameraTable table;
    RecordingObserver first, second;
    CCameraControl control(table, nullptr);
    control.Attach(first.Observer());
    control.Attach(second.Observer());

    control.DeviceReported(Reported("A"));
    control.DeviceReported(Reported("A"));
    control.DeviceReported(Reported("B"));
    control.DeviceReported(Reported(""));

    EXPECT_EQ(table.Keys(), (std::vector<std::string>{"A", "B"}));
    for (RecordingObserver* o : {&first, &second}) {
        auto found = o->Found();
        ASSERT_EQ(found.size(), 3u);
        EXPECT_EQ(found[0].DeviceId, "A");
        EXPECT_EQ(found[0].SeenCount, 1) << "observers get the stored record";
        EXPECT_EQ(found[1].SeenCount, 2);
        EXPECT_EQ(found[2].DeviceId, "B");
    }

    control.SetDeviceCredentials("B", "admin", "secret", 0);
    EXPECT_EQ(table.Find("B")->Password, "secret");
    EXPECT_EQ(table.CountChecked(), 1);
}

// Receive threads report while pages and upgrade workers read and change the table.
TEST(CameraControlTest, ConcurrentReportsAndTableUse) {
    CCameraTable table;
    RecordingObserver observer;
    CCameraControl control(table, nullptr);
    control.Attach(observer.Observer());
    std::atomic<bool> done{false};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i)
                control.DeviceReported(Reported("D" + std::to_string((i + t) % 20)));
        });
    }
    std::jthread pages([&] {
        while (!done) {
            for (const std::string& key : table.Keys()) {
                table.Find(key);
                table.SetCredentials(key, "admin", "pw", 1);
            }
            table.CountChecked();
            table.Remove("D3");
        }
    });
    for (int t = 0; t < 3; ++t) threads[t].join();
    done = true;
    pages.join();
    // A report of D3 that the page removes before it is looked up goes unannounced.
    const auto found = observer.Found();
    EXPECT_EQ(std::count_if(found.begin(), found.end(),
                            [](const CIPCamInfo& r) { return r.DeviceId != "D3"; }),
              855);
    EXPECT_TRUE(std::all_of(found.begin(), found.end(),
                            [](const CIPCamInfo& r) { return r.SeenCount >= 1; }));
    EXPECT_LE(table.Keys().size(), 20u);
    EXPECT_GE(table.Keys().size(), 19u);
}

}  // namespace
