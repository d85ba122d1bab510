// Discovery on a simulated LAN (scripts/lab): the engine runs in the technician's
// namespace, devsim answers from the devices' namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "discovery/bc_multicast_search.h"
#include "discovery/repeat_schedule.h"
#include "search_recorder.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

class DiscoveryLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

// Waits until no receive thread runs; the time it took, or nothing after `limit`.
std::optional<double> WaitUntilIdle(const ISearch& engine, std::chrono::milliseconds limit) {
    const auto start = SteadyClock::now();
    while (engine.GetRunningCount() > 0) {
        if (SteadyClock::now() - start > limit) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    return Seconds(SteadyClock::now() - start);
}

// An engine that accepts the maker's devices, with a recorder of what it delivers.
struct RecordedSearch {
    RecordedSearch() {
        Engine.AddListener(Recorder);
        Engine.SetVendorList({"Quorlent"});
    }
    SearchRecorder Recorder;  // outlives the engine that reports to it
    CBCMulticastSearch Engine;
};

struct LoggedRequest {
    std::string From;
    bool Valid = false;
    std::vector<uint8_t> Bytes;
};

// The next "discovery-request" line devsim prints, if one comes within `timeout`.
std::optional<LoggedRequest> NextRequest(DevsimProcess& sim, std::chrono::milliseconds timeout) {
    while (auto line = sim.Process().ReadLine(timeout)) {
        if (line->rfind("discovery-request ", 0) != 0) continue;
        LoggedRequest request;
        std::istringstream words(*line);
        std::string word;
        while (words >> word) {
            const size_t eq = word.find('=');
            const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
            if (key == "from") request.From = value;
            if (key == "valid") request.Valid = value == "1";
            for (size_t i = 0; key == "bytes" && i + 1 < value.size(); i += 2) {
                request.Bytes.push_back(
                    static_cast<uint8_t>(std::stoi(value.substr(i, 2), nullptr, 16)));
            }
        }
        return request;
    }
    return std::nullopt;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
    if (bytes.size() < offset + count) return {};
    return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + count);
}

// Each adapter sends its request RepeatSchedule::kMinSends times on a clean network, the
// same bytes each time.
TEST_F(DiscoveryLabTest, EachAdapterSendsItsRequestsWithItsOwnSettings) {
    LabNetwork lab({.Adapters = 2, .Devices = 2});
    // An adapter that is down sends nothing.
    RunProcess({"ip", "-n", lab.TechNamespace(), "link", "add", "dummy0", "type", "dummy"}, 5s);
    RunProcess({"ip", "-n", lab.TechNamespace(), "addr", "add", "198.18.9.9/24", "dev", "dummy0"},
               5s);
    DevsimProcess sim({"--discovery-log", "--devices", "2",
                       "id=QX{n},name=Cam {n},address=198.18.1.{n},http_port=8080,https_port=-1"},
                      lab.InDevices());

    std::vector<std::string> search = lab.InTech();
    search.push_back(STRELVANE_CLI_PATH);
    search.push_back("search");
    ProcessResult all = RunProcess(search, 10s);
    ASSERT_EQ(all.ExitCode, 0);

    std::map<std::string, std::vector<uint8_t>> requests;
    std::map<std::string, int> sent;
    for (int i = 0; i < 2 * RepeatSchedule::kMinSends; ++i) {
        auto request = NextRequest(sim, 3s);
        ASSERT_TRUE(request) << "devsim saw " << i << " requests";
        EXPECT_TRUE(request->Valid);
        if (requests.count(request->From)) {
            EXPECT_EQ(requests[request->From], request->Bytes);
        }
        requests[request->From] = request->Bytes;
        ++sent[request->From];
    }
    EXPECT_FALSE(NextRequest(sim, 300ms));
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& [from, count] : sent) EXPECT_EQ(count, RepeatSchedule::kMinSends) << from;
    const std::vector<uint8_t> head = {'W', 'I', 'P', 'C', 'F', 0, 0, 0,   0,
                                       0,   0,   0,   0,   0,   0, 0, 110, 0};
    // Offsets 38 to 58: DHCP flag, address, mask, gateway, first and second DNS server.
    const std::vector<uint8_t> eth0 = {0, 198, 18,  0,  1, 255, 255, 0,  0, 198, 18,
                                       0, 1,   198, 18, 0, 53,  198, 18, 0, 54};
    const std::vector<uint8_t> eth1 = {1, 198, 19,  0,  1, 255, 255, 255, 0, 198, 19,
                                       0, 254, 198, 18, 0, 53,  198, 18,  0, 54};
    for (const auto& [from, bytes] : requests) {
        ASSERT_EQ(bytes.size(), 64u) << from;
        EXPECT_EQ(Slice(bytes, 0, 18), head) << from;
        EXPECT_EQ(Slice(bytes, 38, 21), from == "198.18.0.1" ? eth0 : eth1) << from;
    }
    EXPECT_TRUE(requests.count("198.18.0.1") && requests.count("198.19.0.1"));

    // Both adapters hear each device's replies; the command lists each device once.
    std::vector<std::string> lines;
    std::istringstream output(all.Output);
    for (std::string line; std::getline(output, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 2u) << all.Output;
    EXPECT_EQ(lines[0], R"({"DeviceId":"QX1","DeviceName":"Cam 1","ModelName":"NVR-1600",)"
                        R"("VendorName":"Quorlent","HostAddress":"198.18.1.1","HttpPort":8080,)"
                        R"("HttpsPort":8080,"FirmwareVersion":"","LoginOk":false})");

    // Limited to one adapter, the search sends from it alone.
    search.insert(search.end(), {"--interface", "eth1"});
    ProcessResult one = RunProcess(search, 10s);
    EXPECT_EQ(one.ExitCode, 0);
    for (int i = 0; i < RepeatSchedule::kMinSends; ++i) {
        auto request = NextRequest(sim, 3s);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->From, "198.19.0.1");
    }
    EXPECT_FALSE(NextRequest(sim, 300ms));

    search.back() = "wlan9";
    EXPECT_EQ(RunProcess(search, 10s).ExitCode, 2);
}

TEST_F(DiscoveryLabTest, RepliesAreCheckedDeliveredAndRecorded) {
    LabNetwork lab({.Devices = 8});
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=CAPS,vendor=QUORLENT SECURITY LTD,address=198.18.1.1,https_port=-1", "--device",
         "id=SHORT,address=198.18.1.2,https_port=-1,fault=discovery_short", "--device",
         "id=CODE,address=198.18.1.3,https_port=-1,fault=discovery_code:112", "--device",
         "id=FOREIGN,address=198.18.1.4,https_port=-1,fault=discovery_vendor:Acme", "--device",
         "id=DUP,address=198.18.1.5,https_port=-1,fault=discovery_duplicate", "--device",
         "id=PORT,address=198.18.1.6,https_port=-1,http_port=8080",
         // Claiming this machine, or an address only on the link that it is not at.
         "--device", "id=LOOP,address=198.18.1.7,https_port=-1,fault=discovery_address:127.0.0.1",
         "--device",
         "id=LINK,address=198.18.1.8,https_port=-1,fault=discovery_address:169.254.7.7"},
        lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    RecordedSearch search;
    CBCMulticastSearch& engine = search.Engine;
    SearchRecorder& recorder = search.Recorder;
    engine.Start();
    ASSERT_TRUE(WaitUntilIdle(engine, 5s));

    // Every request is answered: each reply is delivered, the table merges them.
    constexpr size_t kSends = RepeatSchedule::kMinSends;
    auto byId = recorder.ById();
    EXPECT_EQ(byId.size(), 3u);
    ASSERT_EQ(byId["CAPS"].size(), kSends);
    EXPECT_EQ(byId["CAPS"][0].VendorName, "QUORLENT SECURITY LTD");
    EXPECT_EQ(byId["CAPS"][0].HostAddress, "198.18.1.1");
    EXPECT_EQ(byId["DUP"].size(), 2 * kSends);
    ASSERT_EQ(byId["PORT"].size(), kSends);
    EXPECT_EQ(byId["PORT"][0].HttpPort, 8080);
    EXPECT_EQ(byId["PORT"][0].HttpsPort, 8080);
    EXPECT_TRUE(engine.IsKnownHost("198.18.1.1"));
    EXPECT_TRUE(engine.IsKnownHost("198.18.1.5"));
    EXPECT_FALSE(engine.IsKnownHost("198.18.1.2"));
    EXPECT_FALSE(engine.IsKnownHost("198.18.1.3"));
    EXPECT_FALSE(engine.IsKnownHost("198.18.1.4"));
}

// A search listens one second past its last request.
TEST_F(DiscoveryLabTest, SearchWithoutRepliesEndsOneSecondAfterItsLastRequest) {
    const double lastRequest = std::chrono::duration<double>(RepeatSchedule::kSpacing).count() *
                               (RepeatSchedule::kMinSends - 1);
    LabNetwork lab({});
    ScopedNetns inTech(lab.TechNamespace());
    CBCMulticastSearch engine;
    engine.Start();
    engine.Start();  // a second search while one runs: a second thread
    EXPECT_EQ(engine.GetRunningCount(), 2);
    auto took = WaitUntilIdle(engine, 3s);
    ASSERT_TRUE(took);
    EXPECT_GT(*took, lastRequest + 0.95);
    EXPECT_LT(*took, lastRequest + 1.3);

    // Stop ends a search within moments, and the next Start runs again.
    engine.Start();
    std::this_thread::sleep_for(100ms);
    engine.Stop();
    took = WaitUntilIdle(engine, 3s);
    ASSERT_TRUE(took);
    EXPECT_LT(*took, 0.5);
    engine.Start();
    EXPECT_EQ(engine.GetRunningCount(), 1);
    took = WaitUntilIdle(engine, 3s);
    ASSERT_TRUE(took);
    EXPECT_GT(*took, lastRequest + 0.95);
}

TEST_F(DiscoveryLabTest, DeletingAnEngineWaitsForItsReceiveThread) {
    LabNetwork lab({});
    ScopedNetns inTech(lab.TechNamespace());
    auto engine = std::make_unique<CBCMulticastSearch>();
    engine->Start();
    std::this_thread::sleep_for(300ms);
    const auto start = SteadyClock::now();
    engine.reset();
    const double took = Seconds(SteadyClock::now() - start);
    // The thread sees the stop flag within a stop check; the engine is gone only after.
    EXPECT_EQ(engine, nullptr);
    EXPECT_LT(took, 0.5);
}

// The simulator must refuse what a device would refuse, or the tests above prove little.
TEST_F(DiscoveryLabTest, SimulatorAcceptsOnlyWellFormedRequests) {
    LabNetwork lab({.Devices = 1});
    DevsimProcess sim({"--discovery-log", "--device", "id=QX1,address=198.18.1.1,https_port=-1"},
                      lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    in_addr eth0{};
    ::inet_pton(AF_INET, "198.18.0.1", &eth0);
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &eth0, sizeof eth0);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(14675);
    ::inet_pton(AF_INET, "234.2.2.9", &group.sin_addr);

    std::vector<uint8_t> good(64, 0);
    std::memcpy(good.data(), "WIPCF", 5);
    good[16] = 110;
    std::vector<uint8_t> shortOne(good.begin(), good.end() - 1), wrongCode = good, noise = good;
    wrongCode[16] = 111;
    noise[20] = 1;
    for (const auto& request : {shortOne, wrongCode, noise, good}) {
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&group),
                 sizeof group);
        auto logged = NextRequest(sim, 2s);
        ASSERT_TRUE(logged);
        EXPECT_EQ(logged->Valid, request == good);
    }
    ::close(fd);
}

// A busy network loses 30 % of the requests as they reach each device and 30 % of the
// replies: the search sends again for as long as the replies show losses, and finds
// every device, search after search.
TEST_F(DiscoveryLabTest, SearchOnALossyNetworkFindsEveryDevice) {
    constexpr int kDevices = 10;
    LabNetwork lab({.Devices = kDevices});
    DevsimProcess sim({"--discovery", "--devices", std::to_string(kDevices),
                       "id=LOSSY{n},address=198.18.1.{n},http_port=-1,https_port=-1,"
                       "fault=discovery_loss:30"},
                      lab.InDevices());
    ScopedNetns inTech(lab.TechNamespace());
    for (int round = 1; round <= 10; ++round) {
        RecordedSearch search;
        search.Engine.Start();
        ASSERT_TRUE(WaitUntilIdle(search.Engine, 15s));
        EXPECT_EQ(search.Recorder.ById().size(), static_cast<size_t>(kDevices))
            << "search " << round;
    }
}

}  // namespace
