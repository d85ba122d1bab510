// The camera control's bookkeeping of reported devices and its notifications, without a
// network: reports are made by direct calls, as the engine's receive thread makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "registry/camera_control.h"
#include "registry_fakes.h"
#include "support/recording_page.h"

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

// A flood of replies, each naming a new device, fills the table to its cap and no
// further; the devices listed go on reporting, and the pages are told once.
TEST(CameraControlTest, AFloodOfNewDevicesStopsAtTheCapAndSaysSo) {
    CCameraTable table;
    RecordingPage page;
    CCameraControl control(table, nullptr);
    control.Attach(page);
    for (size_t i = 0; i < CCameraTable::kMaxDevices + 500; ++i) {
        control.DeviceReported(Reported("D" + std::to_string(i)));
    }
    control.DeviceReported(Reported("D0"));
    EXPECT_EQ(table.Keys().size(), CCameraTable::kMaxDevices);
    EXPECT_EQ(table.Find("D0")->SeenCount, 2);
    EXPECT_FALSE(table.Find("D4096"));
    EXPECT_EQ(table.Refused(), 500u);
    EXPECT_TRUE(control.ListFull());
    EXPECT_EQ(page.Count("ListFull"), 1);
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

namespace {

// Counts the merges the pages are told of.
class MergeCounter final : public IRegistryObserver {
public:
    int Merges() const { return merges_; }
    void DeviceMerged(const std::string&, const CIPCamInfo&) override { ++merges_; }
    void Reset() override {}
    void DeviceFound(const CIPCamInfo&) override {}
    void DeviceDispatched(const CIPCamInfo&) override {}
    void DeviceStatus(const std::string&, int, int, int, int) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

private:
    std::atomic<int> merges_{0};
};

// Devices that answer the maker's search on their web port and WS-Discovery on another:
// the searches report both while log-ins name each one's MAC. Whatever the order, each
// ends as one record found by both keys, and the pages hear of each merge once.
TEST(CameraControlTest, LogInsMakeTwoListedRecordsOneWhileTheSearchesReport) {
    CCameraTable table;
    MergeCounter pages;
    CCameraControl control(table, nullptr);
    control.Attach(pages);
    constexpr int kDevices = 20;
    const auto host = [](int n) { return "198.18.1." + std::to_string(n + 1); };
    const auto report = [&](const std::string& prefix, int n, int port, DeviceProtocol protocol) {
        CIPCamInfo r = Reported(prefix + std::to_string(n));
        r.HostAddress = host(n);
        r.HttpPort = port;
        r.Protocol = protocol;
        control.DeviceReported(r);
    };
    std::vector<std::jthread> threads;
    threads.emplace_back([&] {
        for (int round = 0; round < 20; ++round)
            for (int n = 0; n < kDevices; ++n) report("I", n, 80, DeviceProtocol::Maker);
    });
    threads.emplace_back([&] {
        for (int round = 0; round < 20; ++round)
            for (int n = kDevices - 1; n >= 0; --n) report("U", n, 8080, DeviceProtocol::Onvif);
    });
    for (const char* prefix : {"I", "U"}) {
        threads.emplace_back([&, prefix] {
            for (int n = 0; n < kDevices; ++n) {
                const std::string mac = "00:1C:A1:00:07:" + std::to_string(10 + n);
                while (!table.Modify(prefix + std::to_string(n),
                                     [&](CIPCamInfo& r) { r.MacAddress = mac; })) {
                    std::this_thread::yield();
                }
            }
        });
    }
    threads.clear();
    // The searches go on reporting the devices under both keys.
    for (int n = 0; n < kDevices; ++n) {
        report("I", n, 80, DeviceProtocol::Maker);
        report("U", n, 8080, DeviceProtocol::Onvif);
    }
    EXPECT_EQ(table.Keys().size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(pages.Merges(), kDevices);
    for (int n = 0; n < kDevices; ++n) {
        const std::optional<CIPCamInfo> maker = table.Find("I" + std::to_string(n));
        const std::optional<CIPCamInfo> onvif = table.Find("U" + std::to_string(n));
        ASSERT_TRUE(maker && onvif) << n;
        EXPECT_EQ(maker->DeviceId, onvif->DeviceId);
        EXPECT_EQ(maker->Protocol, DeviceProtocol::Maker);
        EXPECT_EQ(maker->GetPort(), 80);
    }
}

}  // namespace
