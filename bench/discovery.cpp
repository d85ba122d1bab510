// Discovery benchmark: N simulated devices in the lab (scripts/lab) answer one search,
// each after a random delay within the same spread of milliseconds. Reports how many
// devices reach the device table and how long after Search the last one was stored.
// Needs root. Usage: discovery [--devices N] [--spread-ms MS] [--rounds R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "registry/camera_control.h"
#include "registry/device_found_observer.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Notes when each device is first stored in the current round.
class StoreTimes {
public:
    void StartRound() {
        std::lock_guard lock(lock_);
        start_ = SteadyClock::now();
        last_ = start_;
        seen_.clear();
    }
    void Found(const CIPCamInfo& record) {
        std::lock_guard lock(lock_);
        if (seen_.insert(record.DeviceId).second) last_ = SteadyClock::now();
    }
    double LastStoredMs() {
        std::lock_guard lock(lock_);
        return std::chrono::duration<double, std::milli>(last_ - start_).count();
    }

private:
    std::mutex lock_;
    SteadyClock::time_point start_, last_;
    std::set<std::string> seen_;
};

// UDP datagrams this namespace dropped because a socket's receive buffer was full.
long ReceiveBufferDrops() {
    std::ifstream snmp("/proc/thread-self/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && names.rfind("Udp:", 0) != 0) {
    }
    std::getline(snmp, values);
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value) {
        if (name == "RcvbufErrors") return std::atol(value.c_str());
    }
    return -1;
}

int Usage() {
    std::fprintf(stderr, "usage: discovery [--devices N (1-4094)] [--spread-ms MS] [--rounds R]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 250, spreadMs = 200, rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return Usage();
        const std::string option = argv[i];
        const int value = std::atoi(argv[++i]);
        if (option == "--devices" && value >= 1 && value <= 4094) {
            devices = value;
        } else if (option == "--spread-ms" && value >= 0) {
            spreadMs = value;
        } else if (option == "--rounds" && value >= 1) {
            rounds = value;
        } else {
            return Usage();
        }
    }
    if (std::string why = LabNetwork::Unavailable(); !why.empty()) {
        std::fprintf(stderr, "discovery benchmark: %s\n", why.c_str());
        return 1;
    }
    try {
        LabNetwork lab({.Devices = devices});
        // Devices without web servers: thousands of them answer only the search.
        DevsimProcess sim({"--discovery", "--devices", std::to_string(devices),
                           "id=BENCH{n},address={ip:198.18.1.0},http_port=-1,https_port=-1,"
                           "fault=discovery_jitter:" +
                               std::to_string(spreadMs)},
                          lab.InDevices());
        ScopedNetns inTech(lab.TechNamespace());
        CCameraTable table;
        StoreTimes times;
        DeviceFoundObserver observer([&](const CIPCamInfo& record) { times.Found(record); });
        CCameraControl control(table, nullptr);
        control.Attach(observer);

        std::printf("%d devices answering within %d ms, %d rounds\n", devices, spreadMs, rounds);
        size_t fewest = static_cast<size_t>(devices);
        double slowest = 0;
        for (int round = 1; round <= rounds; ++round) {
            const long dropsBefore = ReceiveBufferDrops();
            times.StartRound();
            const auto start = SteadyClock::now();
            control.StartSearch();
            while (control.IsSearching()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const double searchMs =
                std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
            const size_t stored = table.Keys().size();
            fewest = std::min(fewest, stored);
            slowest = std::max(slowest, times.LastStoredMs());
            std::printf(
                "round %d: %zu/%d devices in the table, last stored %.0f ms after Search, "
                "search ended after %.0f ms, receive-buffer drops %ld\n",
                round, stored, devices, times.LastStoredMs(), searchMs,
                ReceiveBufferDrops() - dropsBefore);
        }
        std::printf("result: fewest devices in the table %zu/%d, slowest last store %.0f ms\n",
                    fewest, devices, slowest);
        return fewest == static_cast<size_t>(devices) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "discovery benchmark: %s\n", e.what());
        return 1;
    }
}
