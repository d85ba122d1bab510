#include "device_http.h"

#include <chrono>

namespace {

// Threads per server: enough for a stalled answer next to a few live ones, few enough
// for a lab of hundreds of devices.
constexpr size_t kServerThreads = 4;

DeviceAuth::Scheme SchemeOf(const SimDeviceConfig& config) {
    return config.Auth == "digest" ? DeviceAuth::Scheme::Digest : DeviceAuth::Scheme::Basic;
}

}  // namespace

const std::vector<std::string>& DeviceHttpFaultNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all = AnswerFaultNames();
        // Every credential is turned down: 401 to HTTP authentication, the log-in page
        // to the log-in form.
        all.push_back("refuse_credentials");
        for (const std::string& name : DevicePageFaultNames()) all.push_back(name);
        for (const std::string& name : DeviceUpgradeFaultNames()) all.push_back(name);
        for (const std::string& name : DeviceRebootFaultNames()) all.push_back(name);
        for (const std::string& name : OnvifFaultNames()) all.push_back(name);
        return all;
    }();
    return names;
}

bool DeviceEndpoints::Authorized(const httplib::Request& req, httplib::Response& res) const {
    return Auth.Check(req, res, Device.HasFault("refuse_credentials"));
}

DeviceHttp::DeviceHttp(SimDevice& device, const SelfSignedCert* tls)
    : device_(device),
      tls_(tls),
      auth_(std::make_unique<DeviceAuth>(SchemeOf(device.Config()), device.Config().User,
                                         device.Config().Password)),
      reboot_(
          device,
          [this](std::string& error) {
              std::lock_guard lock(serveLock_);
              if (Serve(error)) return true;
              Halt();
              return false;
          },
          [this] {
              std::lock_guard lock(serveLock_);
              Halt();
          }),
      endpoints_{device_, *auth_, faults_, uploads_, reboot_, stopping_} {
    if (device_.IsOnvif()) onvif_ = std::make_unique<OnvifService>(endpoints_);
}

DeviceHttp::~DeviceHttp() { Stop(); }

bool DeviceHttp::Start(std::string& error) {
    if (!ReadAnswerFaults(device_.Config().Faults, faults_, error) ||
        !ReadUploadFaults(device_.Config().Faults, uploads_, error)) {
        return false;
    }
    std::lock_guard lock(serveLock_);
    return Serve(error);
}

void DeviceHttp::Stop() {
    reboot_.Cancel();
    std::lock_guard lock(serveLock_);
    Halt();
}

bool DeviceHttp::Serve(std::string& error) {
    stopping_ = false;
    // Fresh servers each time; after the first start a device keeps its ports, as a
    // rebooted device does.
    const bool first = device_.HttpPort() == 0;
    int httpPort = first ? device_.Config().HttpPort : device_.HttpPort();
    int httpsPort = first ? device_.Config().HttpsPort : device_.HttpsPort();
    http_ = std::make_unique<httplib::Server>();
    if (!StartServer(*http_, httpPort, httpPort, error)) return false;
    https_.reset();
    if (tls_ && httpsPort != -1) {
        https_ = std::make_unique<httplib::SSLServer>(tls_->Cert(), tls_->Key());
        if (!StartServer(*https_, httpsPort, httpsPort, error)) return false;
    }
    device_.SetBoundPorts(httpPort, httpsPort);
    return true;
}

bool DeviceHttp::StartServer(httplib::Server& server, int port, int& bound, std::string& error) {
    bound = -1;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_keep_alive_max_count(100);
    InstallAnswerFaults(server, faults_, stopping_, [this] { return device_.IsAway(); });
    InstallRoutes(server);
    const std::string address = device_.Address();
    bound = port == 0                            ? server.bind_to_any_port(address)
            : server.bind_to_port(address, port) ? port
                                                 : -1;
    if (bound < 0) {
        error = "device " + device_.Config().Id + ": cannot listen on " + address + ":" +
                std::to_string(port);
        return false;
    }
    threads_.emplace_back([&server] { server.listen_after_bind(); });
    // stop() does nothing to a server that is not yet running, so wait for it.
    for (int i = 0; i < 2000 && !server.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void DeviceHttp::InstallRoutes(httplib::Server& server) {
    if (onvif_) return onvif_->Install(server);
    InstallDevicePages(server, endpoints_);
    InstallDeviceUpgrade(server, endpoints_);
}

void DeviceHttp::Halt() {
    stopping_ = true;
    if (http_) http_->stop();
    if (https_) https_->stop();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}
