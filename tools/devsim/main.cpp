// devsim: simulated cameras/NVRs and firmware server for the tests, benchmarks and demos.
#include <pthread.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "devsim_config.h"
#include "discovery_responder.h"
#include "sim_device.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(DevsimUsage().c_str(), stdout);
        return 0;
    }
    std::string error;
    std::optional<DevsimConfig> config = ParseDevsimArgs(args, error);
    if (!config) {
        std::fprintf(stderr, "devsim: %s\n%s", error.c_str(), DevsimUsage().c_str());
        return 2;
    }

    // Block the stop signals in every thread; the main thread waits for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<SimDevice>> devices;
    for (const SimDeviceConfig& c : config->Devices)
        devices.push_back(std::make_unique<SimDevice>(c));

    std::unique_ptr<DiscoveryResponder> discovery;
    if (config->Discovery.Enabled) {
        discovery = std::make_unique<DiscoveryResponder>(devices, config->Discovery.LogRequests);
        if (!discovery->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 1;
        }
    }

    for (const auto& d : devices) {
        std::printf("device id=%s address=%s http_port=%d https_port=%d\n", d->Config().Id.c_str(),
                    d->Config().Address.c_str(), d->HttpPort(), d->HttpsPort());
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
