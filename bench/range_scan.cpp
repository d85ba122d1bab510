// Range scan benchmark: a /24 asked address by address (CAddressScan, 32 at a time) in the
// lab (scripts/lab), with simulated devices at some of its addresses and nothing at the
// others. Reports the devices found and the time the scan took. Needs root.
// Usage: range_scan [--devices N] [--rounds R]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "registry/camera_control.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"

namespace {

constexpr double kTargetSeconds = 5.0;

int Usage() {
    std::fprintf(stderr, "usage: range_scan [--devices N (1-254)] [--rounds R]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 10;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) return Usage();
        const std::string option = argv[i];
        const int value = std::atoi(argv[++i]);
        if (option == "--devices" && value >= 1 && value <= 254) {
            devices = value;
        } else if (option == "--rounds" && value >= 1) {
            rounds = value;
        } else {
            return Usage();
        }
    }
    if (std::string why = LabNetwork::Unavailable(); !why.empty()) {
        std::fprintf(stderr, "range scan benchmark: %s\n", why.c_str());
        return 1;
    }
    try {
        // Only the devices' addresses exist: the others are silent (no host answers the
        // neighbour lookup), so each of them costs a full connect time-out, as on a site.
        LabNetwork lab({.Devices = devices});
        DevsimProcess sim({"--devices", std::to_string(devices),
                           "id=R{n},address=198.18.1.{n},mac=00:1C:A1:00:05:{n+10},http_port=80,"
                           "https_port=-1"},
                          lab.InDevices());
        ScopedNetns inTech(lab.TechNamespace());
        AddressRange range;
        std::string error;
        ParseAddressRange("198.18.1.0/24", range, error);
        std::printf("%d devices in a /24 (%llu addresses), %d rounds\n", devices,
                    static_cast<unsigned long long>(range.Count()), rounds);
        double slowest = 0;
        int fewest = devices;
        for (int round = 1; round <= rounds; ++round) {
            CCameraTable table;
            CCameraControl control(table, nullptr);
            const auto start = std::chrono::steady_clock::now();
            std::shared_ptr<CAddressScan> scan =
                control.StartAddressScan({{range}, {}, "admin", "vqmtz"});
            while (!scan->Now().Finished) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const int found = scan->Now().Added;
            std::printf("round %d: %d/%d devices added, scan took %.2f s\n", round, found, devices,
                        seconds);
            slowest = std::max(slowest, seconds);
            fewest = std::min(fewest, found);
        }
        std::printf("result: fewest devices %d/%d, slowest scan %.2f s (target < %.0f s)\n", fewest,
                    devices, slowest, kTargetSeconds);
        return fewest == devices && slowest < kTargetSeconds ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "range scan benchmark: %s\n", e.what());
        return 1;
    }
}
