#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "answer_faults.h"
#include "http_auth.h"
#include "self_signed_cert.h"
#include "sim_device.h"

// What every endpoint file of a device gets: the device, its authentication and the
// answer faults, and the flag that ends waits when devsim stops.
struct DeviceEndpoints {
    SimDevice& Device;
    DeviceAuth& Auth;
    const AnswerFaults& Faults;
    const std::atomic<bool>& Stopping;

    // True when the request may go on; otherwise `res` holds the 401 challenge.
    bool Authorized(const httplib::Request& req, httplib::Response& res) const;
};

// The web interface of one simulated device: an HTTP server and, unless its https_port
// is -1, an HTTPS server with the same endpoints, both on the device's own address.
// Endpoint files add their routes in InstallRoutes (device_http.cpp).
class DeviceHttp {
public:
    // `tls` must outlive the servers; it may be null for a device without HTTPS.
    DeviceHttp(SimDevice& device, const SelfSignedCert* tls);
    ~DeviceHttp();
    DeviceHttp(const DeviceHttp&) = delete;
    DeviceHttp& operator=(const DeviceHttp&) = delete;

    // Binds the configured ports (0: any free one) the first time, the same ports
    // after that, stores them in the device and starts serving. False with a message
    // when a fault value is bad or a port cannot be bound.
    bool Start(std::string& error);
    // Stops serving, as during a reboot; waits and stalls end at once. Start serves again.
    void Stop();

private:
    bool StartServer(httplib::Server& server, int port, int& bound, std::string& error);
    void InstallRoutes(httplib::Server& server);

    SimDevice& device_;
    const SelfSignedCert* tls_;
    std::unique_ptr<DeviceAuth> auth_;
    AnswerFaults faults_;
    std::atomic<bool> stopping_{false};
    DeviceEndpoints endpoints_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<httplib::Server> https_;
    std::vector<std::thread> threads_;
};

// Device fault names understood by the device's HTTP endpoints.
const std::vector<std::string>& DeviceHttpFaultNames();

// The identification, log-in and information pages (device_pages.cpp).
void InstallDevicePages(httplib::Server& server, DeviceEndpoints& endpoints);
const std::vector<std::string>& DevicePageFaultNames();
