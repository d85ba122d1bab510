#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "answer_faults.h"
#include "devsim_config.h"

// The maker's firmware server: "/Firmware_V2.xml" and the image files of its folder,
// by GET and by POST, honouring "Range: bytes=N-" (and "bytes=N-M") with 206 and
// Content-Range. Understands the answer faults and "ignore_range"; with log=1 prints one
// line per request.
class FirmwareServer {
public:
    explicit FirmwareServer(const FirmwareServerConfig& config);
    ~FirmwareServer();
    FirmwareServer(const FirmwareServer&) = delete;
    FirmwareServer& operator=(const FirmwareServer&) = delete;

    // False with a message for a bad fault value or a port that cannot be bound.
    bool Start(std::string& error);
    void Stop();
    int Port() const { return port_; }

private:
    void ServeFile(const httplib::Request& req, httplib::Response& res);

    FirmwareServerConfig config_;
    AnswerFaults faults_;
    std::atomic<bool> stopping_{false};
    std::mutex logMutex_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

// Firmware-server fault names.
const std::vector<std::string>& FirmwareServerFaultNames();
