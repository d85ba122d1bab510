#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted HTTP server on 127.0.0.1 for checking the exact bytes a client sends and
// for answers devsim would never give. Serves one connection at a time.
class RawHttpServer {
public:
    struct Request {
        int Connection = 0;  // 1 for the first connection accepted, and so on
        std::string Head;    // request line and header lines, up to the blank line
        std::string Body;
        bool HasHeader(const std::string& line) const;
        bool HasHeaderNamed(const std::string& name) const;
    };
    // The whole answer (status line, headers, body) to a request.
    using Script = std::function<std::string(const Request&)>;

    explicit RawHttpServer(Script script);
    ~RawHttpServer();

    int Port() const { return port_; }
    std::vector<Request> Requests() const;

    static std::string Answer(int status, const std::string& reason,
                              const std::vector<std::string>& headers, const std::string& body);

private:
    void Serve();
    void ServeConnection(int socket, int number);

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::thread thread_;
};
