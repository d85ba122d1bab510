// The camera control driving real searches on a simulated LAN (scripts/lab).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "discovery/repeat_schedule.h"
#include "registry/camera_control.h"
#include "registry_fakes.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"

namespace {

using namespace std::chrono_literals;

class RegistryLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::vector<std::string> SortedKeys(const CCameraTable& table) {
    std::vector<std::string> keys = table.Keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST_F(RegistryLabTest, SearchesFillTheTableAndARebootedDeviceIsFoundAgain) {
    LabNetwork lab({.Devices = 3});
    // The delay keeps the first return check ahead of the device's answer to the search
    // that the check itself starts.
    DevsimProcess sim(
        {"--discovery", "--devices", "2",
         "id=QX{n},address=198.18.1.{n},http_port=8080,https_port=-1,fault="
         "discovery_delay:300",
         "--device", "id=QX3,address=198.18.1.3,https_port=-1,fault=discovery_duplicate"},
        lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    CCameraTable table;
    RecordingUpgradeManager manager;
    RecordingObserver observer;  // outlives the control, whose last search still reports
    CCameraControl control(table, &manager);
    control.Attach(observer.Observer());

    // Every request is answered, and each reply counts as a sighting: at least three
    // requests per search (the late answers of QX1 and QX2 may call for more).
    size_t found = 0;
    for (int search = 1; search <= 2; ++search) {
        control.StartSearch();
        ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 10s));
        EXPECT_EQ(SortedKeys(table), (std::vector<std::string>{"QX1", "QX2", "QX3"}));
        const int sends = table.Find("QX1")->SeenCount;
        EXPECT_GE(sends, RepeatSchedule::kMinSends) << "search " << search;
        EXPECT_EQ(table.Find("QX2")->SeenCount, sends) << "search " << search;
        EXPECT_EQ(table.Find("QX3")->SeenCount, 2 * sends) << "search " << search;
        found += 4u * static_cast<size_t>(sends);
        EXPECT_EQ(observer.Found().size(), found);
    }

    // The upgrade forgets a rebooting device; it counts as back only once it has
    // reported itself again, which the check itself makes possible by searching.
    table.Remove("QX1");
    EXPECT_FALSE(control.CheckDeviceReturned("QX1"));
    EXPECT_TRUE(control.IsSearching());
    EXPECT_TRUE(manager.Calls().empty());
    ASSERT_TRUE(WaitFor([&] { return table.Find("QX1").has_value(); }, 3s));
    EXPECT_TRUE(control.CheckDeviceReturned("QX1"));
    EXPECT_EQ(manager.Calls(),
              (std::vector<RecordingUpgradeManager::Call>{{"QX1", "http", "198.18.1.1", 8080}}));
    EXPECT_FALSE(control.CheckDeviceReturned("QX9"));
    // The control goes while its search still listens: it waits for the receive thread.
}

TEST_F(RegistryLabTest, ReturnCheckStartsTheFirstSearchItself) {
    LabNetwork lab({.Devices = 1});
    DevsimProcess sim({"--discovery", "--device",
                       "id=QX1,address=198.18.1.1,https_port=-1,fault=discovery_delay:300"},
                      lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    CCameraTable table;
    CCameraControl control(table, nullptr);
    control.SetSearchInterfaces({"eth0"});
    EXPECT_FALSE(control.CheckDeviceReturned("QX1"));
    ASSERT_TRUE(WaitFor([&] { return table.Find("QX1").has_value(); }, 3s));
    EXPECT_TRUE(control.CheckDeviceReturned("QX1"));

    // Limited to an adapter the computer does not have, nothing is sent or found.
    ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 5s));
    control.SetSearchInterfaces({"eth7"});
    control.StartSearch();
    ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 5s));
    EXPECT_TRUE(table.Keys().empty());
}

// A whole LAN answers the same request at the same moment; the default socket receive
// buffer holds only about 160 of those replies. (The first burst of a freshly started
// simulator comes slower, so a few searches are made.)
TEST_F(RegistryLabTest, BurstOfRepliesFromAWholeLanIsNotLost) {
    LabNetwork lab({.Devices = 250});
    DevsimProcess sim(
        {"--discovery", "--devices", "250", "id=QX{n},address=198.18.1.{n},https_port=-1"},
        lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    CCameraTable table;
    CCameraControl control(table, nullptr);
    for (int search = 1; search <= 3; ++search) {
        control.StartSearch();
        ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 10s));
        EXPECT_EQ(table.Keys().size(), 250u) << "search " << search;
    }
}

// A device is located by its MAC among those the search reports, asking the ones of
// unknown MAC for theirs; a MAC that two devices name locates nothing.
TEST_F(RegistryLabTest, DevicesAreLocatedByTheMacTheyName) {
    LabNetwork lab({.Devices = 4});
    DevsimProcess sim(
        {"--discovery",  //
         "--device", "id=A,address=198.18.1.1,http_port=80,https_port=-1,mac=00:1C:A1:00:06:01",
         "--device", "id=B,address=198.18.1.2,http_port=80,https_port=-1,mac=00:1C:A1:00:06:02",
         "--device", "id=C,address=198.18.1.3,http_port=80,https_port=-1,mac=00:1C:A1:00:06:09",
         "--device", "id=D,address=198.18.1.4,http_port=80,https_port=-1,mac=00:1C:A1:00:06:09"},
        lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    CCameraTable table;
    CCameraControl control(table, nullptr);
    control.StartSearch();
    ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 5s));
    ASSERT_EQ(table.Keys().size(), 4u);

    // A few devices are asked per look; every one is asked once.
    std::optional<DeviceSighting> b;
    for (int look = 0; look < 4 && !b; ++look) b = control.Locate("00-1c-a1-00-06-02");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Host, "198.18.1.2");
    EXPECT_EQ(b->Port, 80);
    EXPECT_EQ(table.Find("B")->MacAddress, "00:1C:A1:00:06:02");
    for (int look = 0; look < 4; ++look) {
        EXPECT_FALSE(control.Locate("00:1C:A1:00:06:09")) << "two devices name it";
        EXPECT_FALSE(control.Locate("00:1C:A1:00:06:77")) << "nobody names it";
    }
    EXPECT_EQ(control.Locate("00:1C:A1:00:06:01")->Host, "198.18.1.1");
}

}  // namespace
