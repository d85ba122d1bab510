// Devices entered by address, against simulated devices on the loopback addresses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "registry/camera_control.h"
#include "registry_fakes.h"
#include "support/devsim_process.h"
#include "support/web_test_support.h"

namespace {

TEST(AddressEntryTest, DeviceIsAskedLoggedInAndKeyedByItsMacOnce) {
    ClearProxyEnvironment();
    DevsimProcess sim({
        "--device",
        "id=nvr,mac=AA:BB:CC:00:00:01,host_name=gate,model=NVR-1600,firmware=2.1.0",
        "--device",
        "id=twin,mac=aa:bb:cc:00:00:01",  // the same MAC behind another address
        "--device",
        "id=v6,address=::1,mac=AA:BB:CC:00:00:06,https_port=-1",
        "--device",
        "id=crlf,mac=AA:BB:CC:00:00:07,fault=crlf_lines",
        "--device",
        "id=page,mac=AA:BB:CC:00:00:08,fault=login_answer_200",
    });
    CCameraTable table;
    RecordingObserver observer;
    CCameraControl control(table, nullptr);
    control.Attach(observer.Observer());
    const auto port = [&](const std::string& id) { return sim.DeviceById(id).HttpPort; };

    // Refusals first: nothing of them may be kept. A wrong password is refused by the
    // system list already (401), and said so rather than blamed on the network.
    EXPECT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", port("nvr"), "admin", "wrong"),
              AddressEntryResult::LoginRefused);
    EXPECT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", 1, "admin", "vqmtz"),
              AddressEntryResult::Unreachable);
    EXPECT_TRUE(table.Keys().empty());

    ASSERT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", port("nvr"), "admin", "vqmtz"),
              AddressEntryResult::Added);
    // The network page's MAC line goes on with ",IP Address=..." after the address.
    std::optional<CIPCamInfo> nvr = table.Find("AA:BB:CC:00:00:01");
    ASSERT_TRUE(nvr);
    EXPECT_EQ(nvr->DeviceName, "gate");
    EXPECT_EQ(nvr->ModelName, "NVR-1600");
    EXPECT_EQ(nvr->FirmwareVersion, "2.1.0");
    EXPECT_EQ(nvr->HostAddress, "127.0.0.1");
    EXPECT_EQ(nvr->HttpPort, port("nvr"));
    EXPECT_EQ(nvr->GetScheme(), "http");
    EXPECT_EQ(nvr->Password, "vqmtz");
    EXPECT_EQ(nvr->CheckDone, 1);
    EXPECT_EQ(nvr->LoginOk, 1);
    EXPECT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", port("twin"), "admin", "vqmtz"),
              AddressEntryResult::MacUsed);

    // An IPv6 host, typed bare or in brackets, is kept in brackets: every address of
    // the device is formed from it.
    ASSERT_EQ(control.AddDeviceByAddress("http", "::1", port("v6"), "admin", "vqmtz"),
              AddressEntryResult::Added);
    EXPECT_EQ(table.Find("AA:BB:CC:00:00:06")->HostAddress, "[::1]");
    EXPECT_EQ(control.AddDeviceByAddress("http", "[::1]", port("v6"), "admin", "vqmtz"),
              AddressEntryResult::MacUsed);

    ASSERT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", port("crlf"), "admin", "vqmtz"),
              AddressEntryResult::Added);
    EXPECT_TRUE(table.Find("AA:BB:CC:00:00:07"));
    ASSERT_EQ(control.AddDeviceByAddress("http", "127.0.0.1", port("page"), "admin", "vqmtz"),
              AddressEntryResult::Added);

    EXPECT_EQ(table.Keys(), (std::vector<std::string>{"AA:BB:CC:00:00:01", "AA:BB:CC:00:00:06",
                                                      "AA:BB:CC:00:00:07", "AA:BB:CC:00:00:08"}));
    ASSERT_EQ(observer.Found().size(), 4u);
    EXPECT_EQ(observer.Found()[0].DeviceId, "AA:BB:CC:00:00:01");
}

// A device that answers without end, or a byte a second, holds the query no longer than
// its budget; a cancel ends it at once. Each hostile device is asked on its own thread,
// side by side.
TEST(AddressEntryTest, HostileAnswersEndWithinTheBudgetAndCancelEndsAtOnce) {
    using namespace std::chrono;
    ClearProxyEnvironment();
    DevsimProcess sim({
        "--device",
        "id=endless,mac=AA:BB:CC:00:01:01,fault=endless_body",
        "--device",
        "id=trickle,mac=AA:BB:CC:00:01:02,fault=rate_limit:1",
        "--device",
        "id=endless_trickle,mac=AA:BB:CC:00:01:03,fault=endless_body,"
        "fault=rate_limit:20",
    });
    CCameraTable table;
    CCameraControl control(table, nullptr);
    const auto ask = [&](const std::string& id, const AddressQueryLimits& limits,
                         milliseconds& took) {
        const auto start = steady_clock::now();
        const AddressEntryResult result = control.AddDeviceByAddress(
            "http", "127.0.0.1", sim.DeviceById(id).HttpPort, "admin", "vqmtz", limits);
        took = duration_cast<milliseconds>(steady_clock::now() - start);
        return result;
    };
    const milliseconds budget(AddressQueryLimits::kBudgetMs);
    struct Asked {
        std::string Id;
        milliseconds Took{0};
        AddressEntryResult Result = AddressEntryResult::Added;
    };
    std::vector<Asked> asked = {{"endless"}, {"trickle"}, {"endless_trickle"}};
    {
        std::vector<std::jthread> threads;
        for (Asked& a : asked) {
            threads.emplace_back([&] { a.Result = ask(a.Id, {}, a.Took); });
        }
    }
    for (const Asked& a : asked) {
        // An endless answer is cut at its cap and read as far as that: it may even
        // name a MAC. What matters is that the query ends.
        EXPECT_LT(a.Took, budget + 2s) << a.Id;
        if (a.Id != "endless") {
            EXPECT_EQ(a.Result, AddressEntryResult::Unreachable) << a.Id;
        }
    }

    std::atomic<bool> cancelled{false};
    AddressQueryLimits limits;
    limits.Cancelled = [&] { return cancelled.load(); };
    milliseconds took(0);
    std::jthread canceller([&] {
        std::this_thread::sleep_for(500ms);
        cancelled = true;
    });
    EXPECT_EQ(ask("trickle", limits, took), AddressEntryResult::Cancelled);
    EXPECT_LT(took, 500ms + 500ms);
}

}  // namespace
