#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

// The key=value words of a line devsim prints ("device id=A http_port=80 ...").
std::map<std::string, std::string> KeyValueFields(const std::string& line);

// devsim started for one test, with the ports it bound. `prefix` runs it through
// another program first (for example {"ip", "netns", "exec", "lab-dev"}).
class DevsimProcess {
public:
    struct Device {
        std::string Id;
        std::string Address;
        int HttpPort = 0;
        int HttpsPort = 0;
        std::string Endpoint;  // an ONVIF camera's endpoint reference ("urn:uuid:...")
    };

    explicit DevsimProcess(const std::vector<std::string>& args,
                           const std::vector<std::string>& prefix = {});

    const std::vector<Device>& Devices() const { return devices_; }
    const Device& DeviceById(const std::string& id) const;
    int FirmwareServerPort() const { return firmwareServerPort_; }
    int ProxyPort() const { return proxyPort_; }
    ChildProcess& Process() { return *process_; }

    // The next line of output that contains `text` (lines before it are passed over);
    // empty when none comes within `timeout`.
    std::string NextLineWith(const std::string& text,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    std::unique_ptr<ChildProcess> process_;
    std::vector<Device> devices_;
    int firmwareServerPort_ = 0;
    int proxyPort_ = 0;
};
