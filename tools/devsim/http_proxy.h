#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsim_config.h"

// A forward HTTP proxy for the tests: takes "METHOD http://HOST:PORT/PATH" requests,
// asks for Basic log-in when it has a user (407 otherwise), and relays each request to
// its host, one connection per request. It reaches 127.0.0.0/8 only (403 for anything
// else), so a test can never send traffic out through it. The first answer longer than
// cut_after bytes is cut there, as a link that drops mid-download.
class HttpProxy {
public:
    explicit HttpProxy(ProxyConfig config);
    ~HttpProxy();
    HttpProxy(const HttpProxy&) = delete;
    HttpProxy& operator=(const HttpProxy&) = delete;

    // False with a message when the address cannot be bound.
    bool Start(std::string& error);
    void Stop();
    int Port() const { return port_; }

private:
    void AcceptLoop();
    void Serve(int client);
    void Log(const std::string& line);

    const ProxyConfig config_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> cut_{false};
    std::mutex mutex_;  // guards workers_ and the log
    std::vector<std::thread> workers_;
    std::thread thread_;
};
