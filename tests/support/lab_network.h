#pragma once

#include <string>
#include <vector>

// A simulated LAN made by scripts/lab for one test (see the top of that script for its
// layout), removed when the object goes. Never run a search outside of it: discovery
// multicasts out of every adapter of the namespace it runs in.
class LabNetwork {
public:
    struct Options {
        int Adapters = 1;  // the technician's adapters: eth0, and eth1 when 2
        // Addresses in the devices namespace, up to 4094: DeviceAddress(1) to (N).
        int Devices = 0;
    };

    // Empty when labs can be built here, else why not (for GTEST_SKIP).
    static std::string Unavailable();

    // The address of simulated device n (1-based): 198.18.1.n for the first 254, then on
    // without a gap (198.18.1.255, 198.18.2.0, ...), as devsim's "{ip:198.18.1.0}" gives.
    static std::string DeviceAddress(int n) {
        const int offset = 256 + n;
        return "198.18." + std::to_string(offset >> 8) + "." + std::to_string(offset & 255);
    }

    explicit LabNetwork(Options options);
    ~LabNetwork();
    LabNetwork(const LabNetwork&) = delete;
    LabNetwork& operator=(const LabNetwork&) = delete;

    const std::string& Name() const { return name_; }
    std::string TechNamespace() const { return name_ + "-tech"; }
    std::string DevNamespace() const { return name_ + "-dev"; }
    // Command prefixes that run a program in the technician's or the devices' namespace.
    std::vector<std::string> InTech() const { return {"ip", "netns", "exec", TechNamespace()}; }
    std::vector<std::string> InDevices() const { return {"ip", "netns", "exec", DevNamespace()}; }

private:
    std::string name_;
};

// Moves the calling thread into a network namespace until the object goes. Threads it
// starts meanwhile (an engine's receive thread) are born there and stay there.
class ScopedNetns {
public:
    explicit ScopedNetns(const std::string& name);
    ~ScopedNetns();
    ScopedNetns(const ScopedNetns&) = delete;
    ScopedNetns& operator=(const ScopedNetns&) = delete;

private:
    int original_ = -1;
};
