#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "answer_faults.h"
#include "device_reboot.h"
#include "device_upgrade.h"
#include "http_auth.h"
#include "onvif_service.h"
#include "self_signed_cert.h"
#include "sim_device.h"

// What every endpoint file of a device gets: the device, its authentication, the
// answer and upload faults, its restart, and the flag that ends waits when devsim
// stops (or the device restarts).
struct DeviceEndpoints {
    SimDevice& Device;
    DeviceAuth& Auth;
    const AnswerFaults& Faults;
    const UploadFaults& Uploads;
    DeviceReboot& Reboot;
    const std::atomic<bool>& Stopping;

    // True when the request may go on; otherwise `res` holds the 401 challenge.
    bool Authorized(const httplib::Request& req, httplib::Response& res) const;
};

// The web interface of one simulated device: an HTTP server and, unless its https_port
// is -1, an HTTPS server with the same endpoints, both on the device's own address. An
// ONVIF camera serves its ONVIF service there instead of the maker's pages.
// Endpoint files add their routes in InstallRoutes (device_http.cpp).
class DeviceHttp {
public:
    // `tls` must outlive the servers; it may be null for a device without HTTPS.
    DeviceHttp(SimDevice& device, const SelfSignedCert* tls);
    ~DeviceHttp();
    DeviceHttp(const DeviceHttp&) = delete;
    DeviceHttp& operator=(const DeviceHttp&) = delete;

    // Binds the configured ports (0: any free one) on the device's address and starts
    // serving. False with a message when a fault value is bad or a port cannot be bound.
    bool Start(std::string& error);
    // Stops serving for good: a restart in progress ends where it stands.
    void Stop();

private:
    // Serves on the device's current address; the same ports after the first time, as
    // a restarted device does.
    bool Serve(std::string& error);
    // Stops serving, as during a restart; waits and stalls end at once.
    void Halt();
    bool StartServer(httplib::Server& server, int port, int& bound, std::string& error);
    void InstallRoutes(httplib::Server& server);

    SimDevice& device_;
    const SelfSignedCert* tls_;
    std::unique_ptr<DeviceAuth> auth_;
    AnswerFaults faults_;
    UploadFaults uploads_;
    std::atomic<bool> stopping_{false};
    DeviceReboot reboot_;
    DeviceEndpoints endpoints_;
    std::unique_ptr<OnvifService> onvif_;  // an ONVIF camera's service, kept across restarts
    // Serving starts on the main thread and stops and starts again on the restart's.
    std::mutex serveLock_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<httplib::Server> https_;
    std::vector<std::thread> threads_;
};

// Device fault names understood by the device's HTTP endpoints.
const std::vector<std::string>& DeviceHttpFaultNames();

// The identification, log-in and information pages (device_pages.cpp).
void InstallDevicePages(httplib::Server& server, DeviceEndpoints& endpoints);
const std::vector<std::string>& DevicePageFaultNames();

// The firmware upload endpoints (device_upgrade.cpp).
void InstallDeviceUpgrade(httplib::Server& server, DeviceEndpoints& endpoints);
