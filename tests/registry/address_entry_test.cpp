// Devices entered by address, against simulated devices on the loopback addresses.
#include <gtest/gtest.h>

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

}  // namespace
