#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// One simulated camera or NVR: what it is configured as, plus the little state that
// changes while it runs (its firmware version after an upgrade, whether it is
// rebooting). Handlers of every protocol share one SimDevice per device.
struct SimDeviceConfig {
    std::string Name = "Camera";
    std::string Id;  // device identifier (discovery reply offset 34)
    std::string Mac = "00:00:00:00:00:00";
    std::string Model = "NVR-1600";
    std::string ProductModel;  // nvr.system.product.model; empty = Model
    std::string Vendor = "Quorlent";
    std::string Firmware = "1.0.0";
    std::string HostName = "camera";
    std::string Address = "127.0.0.1";  // the address it serves on and reports
    int HttpPort = 0;                   // 0: any free port (printed when ready)
    int HttpsPort = 0;                  // 0: any free port; -1: no HTTPS
    std::string User = "admin";
    std::string Password = "vqmtz";
    // The HTTP authentication the device demands: "basic" or "digest". An ONVIF camera
    // takes HTTP Digest, or with "token" a WS-UsernameToken in the SOAP header instead.
    std::string Auth = "basic";
    // "quorlent": the maker's own protocol; "onvif": an ONVIF camera of another maker
    // (WS-Discovery, the SOAP device service, firmware over HTTP; onvif_service.h).
    std::string Protocol = "quorlent";
    // ONVIF: seconds its clock is ahead of the real time (negative: behind).
    int ClockSkewSeconds = 0;
    // ONVIF: the text an image must begin with; empty: the maker's marks.
    std::string ImageMark;
    // ONVIF: the size an upload's image must have (0: any); a body of another size is a
    // loud problem.
    int ImageBytes = 0;
    // ONVIF: the UploadDelay it names, as written (an xs:duration).
    std::string UploadDelay = "PT0S";
    int RebootSeconds = 5;  // how long it is away after an upgrade
    // How long it goes on answering (HTTP and search) after it took an image, writing
    // its flash, before it restarts.
    int RestartDelayMs = 0;
    // The version it runs after an upgrade with an image that names none; empty: the
    // version it ran before.
    std::string NextFirmware;
    // Fault injection: name -> value ("" for a plain switch). Each protocol handler
    // documents the names it understands; devsim refuses names nobody understands.
    std::map<std::string, std::string> Faults;
};

class SimDevice {
public:
    explicit SimDevice(SimDeviceConfig config) : config_(std::move(config)) {}

    const SimDeviceConfig& Config() const { return config_; }

    bool IsOnvif() const { return config_.Protocol == "onvif"; }

    bool HasFault(const std::string& name) const { return config_.Faults.count(name) > 0; }
    std::string FaultValue(const std::string& name) const {
        auto it = config_.Faults.find(name);
        return it == config_.Faults.end() ? std::string() : it->second;
    }

    std::string FirmwareVersion() const {
        std::lock_guard lock(mutex_);
        return firmware_.empty() ? config_.Firmware : firmware_;
    }
    void SetFirmwareVersion(const std::string& version) {
        std::lock_guard lock(mutex_);
        firmware_ = version;
    }

    // The address it serves on now; a fault may bring it back elsewhere after a reboot.
    std::string Address() const {
        std::lock_guard lock(mutex_);
        return address_.empty() ? config_.Address : address_;
    }
    void SetAddress(const std::string& address) {
        std::lock_guard lock(mutex_);
        address_ = address;
    }

    // A rebooting device is away: it answers neither HTTP nor discovery.
    bool IsAway() const { return away_; }
    void SetAway(bool away) { away_ = away; }

    // Restarts it has come back from.
    int Restarts() const { return restarts_; }
    void CountRestart() { ++restarts_; }

    // Ports actually bound (filled in when the servers start).
    int HttpPort() const { return httpPort_; }
    int HttpsPort() const { return httpsPort_; }
    void SetBoundPorts(int http, int https) {
        httpPort_ = http;
        httpsPort_ = https;
    }

private:
    SimDeviceConfig config_;
    mutable std::mutex mutex_;
    std::string firmware_;
    std::string address_;
    std::atomic<bool> away_{false};
    std::atomic<int> restarts_{0};
    // Rewritten when the servers start again after a reboot.
    std::atomic<int> httpPort_{0};
    std::atomic<int> httpsPort_{0};
};
