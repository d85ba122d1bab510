// devsim: simulated cameras/NVRs and firmware server for the tests, benchmarks and demos.
#include <pthread.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device_http.h"
#include "devsim_config.h"
#include "discovery_responder.h"
#include "firmware_server.h"
#include "http_proxy.h"
#include "self_signed_cert.h"
#include "sim_device.h"
#include "wsd_responder.h"

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

    std::unique_ptr<SelfSignedCert> tls = SelfSignedCert::Make("devsim", error);
    if (!tls) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<DeviceHttp>> webs;
    for (const auto& d : devices) {
        // A device that only answers the search (thousands of them, for a burst).
        if (d->Config().HttpPort == -1) continue;
        webs.push_back(std::make_unique<DeviceHttp>(*d, tls.get()));
        if (!webs.back()->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 2;
        }
    }
    std::unique_ptr<FirmwareServer> firmwareServer;
    if (config->FirmwareServer.Enabled) {
        firmwareServer = std::make_unique<FirmwareServer>(config->FirmwareServer);
        if (!firmwareServer->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 2;
        }
    }
    std::unique_ptr<HttpProxy> proxy;
    if (config->Proxy.Enabled) {
        proxy = std::make_unique<HttpProxy>(config->Proxy);
        if (!proxy->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 2;
        }
    }
    // After the web servers: replies carry the HTTP port they bound.
    std::unique_ptr<DiscoveryResponder> discovery;
    std::unique_ptr<WsdResponder> wsDiscovery;
    const bool anyCamera =
        std::any_of(devices.begin(), devices.end(), [](const auto& d) { return d->IsOnvif(); });
    if (config->Discovery.Enabled && anyCamera) {
        wsDiscovery =
            std::make_unique<WsdResponder>(devices, config->Discovery.LogRequests,
                                           [](const SimDevice& device) { return device.IsAway(); });
        if (!wsDiscovery->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 1;
        }
    }
    if (config->Discovery.Enabled) {
        discovery = std::make_unique<DiscoveryResponder>(
            devices, config->Discovery.LogRequests,
            [](const SimDevice& device) { return device.IsAway(); });
        if (!discovery->Start(error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 1;
        }
    }

    for (const auto& d : devices) {
        // An ONVIF camera's endpoint reference is the identifier a search keys it by.
        const std::string endpoint = d->IsOnvif() ? " endpoint=" + CameraEndpoint(*d) : "";
        std::printf("device id=%s address=%s http_port=%d https_port=%d%s\n",
                    d->Config().Id.c_str(), d->Config().Address.c_str(), d->HttpPort(),
                    d->HttpsPort(), endpoint.c_str());
    }
    if (firmwareServer) std::printf("firmware-server port=%d\n", firmwareServer->Port());
    if (proxy) std::printf("proxy port=%d\n", proxy->Port());
    std::printf("ready\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (proxy) proxy->Stop();
    if (firmwareServer) firmwareServer->Stop();
    for (const auto& web : webs) web->Stop();
    return 0;
}
