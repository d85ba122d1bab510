// The camera control driving real searches on a simulated LAN (scripts/lab).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

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

    for (int search = 1; search <= 2; ++search) {
        control.StartSearch();
        ASSERT_TRUE(WaitFor([&] { return !control.IsSearching(); }, 5s));
        EXPECT_EQ(SortedKeys(table), (std::vector<std::string>{"QX1", "QX2", "QX3"}));
        EXPECT_EQ(table.Find("QX1")->SeenCount, 1) << "search " << search;
        EXPECT_EQ(table.Find("QX3")->SeenCount, 2) << "search " << search;
        EXPECT_EQ(observer.Found().size(), 4u * search);
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

}  // namespace
