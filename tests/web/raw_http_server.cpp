#include "raw_http_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/text.h"
#include "support/web_test_support.h"

bool RawHttpServer::Request::HasHeader(const std::string& line) const {
    return Head.find("\r\n" + line + "\r\n") != std::string::npos;
}

bool RawHttpServer::Request::HasHeaderNamed(const std::string& name) const {
    return ContainsNoCase(Head, "\r\n" + name + ":");
}

RawHttpServer::RawHttpServer(Script script) : script_(std::move(script)) {
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::vector<RawHttpServer::Request> RawHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string RawHttpServer::Answer(int status, const std::string& reason,
                                  const std::vector<std::string>& headers,
                                  const std::string& body) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const std::string& h : headers) text += h + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return text;
}

void RawHttpServer::Serve() {
    int number = 0;
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int socket = ::accept(listener_, nullptr, nullptr);
        if (socket < 0) continue;
        ServeConnection(socket, ++number);
        ::close(socket);
    }
}

void RawHttpServer::ServeConnection(int socket, int number) {
    std::string pending;
    char buffer[4096];
    while (!stopping_) {
        const size_t headEnd = pending.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            Request request;
            request.Connection = number;
            request.Head = pending.substr(0, headEnd + 2);
            std::string lengthText;
            const size_t bodyLength =
                ValueAfterMarker(ToLowerAscii(request.Head), "\r\ncontent-length:", lengthText)
                    ? static_cast<size_t>(ParseDecimal(lengthText))
                    : 0;
            if (pending.size() >= headEnd + 4 + bodyLength) {
                request.Body = pending.substr(headEnd + 4, bodyLength);
                pending.erase(0, headEnd + 4 + bodyLength);
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                const std::string answer = script_(request);
                if (answer.empty()) return;  // drop the connection without an answer
                if (::send(socket, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return;
                continue;
            }
        }
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t got = ::recv(socket, buffer, sizeof(buffer), 0);
        if (got <= 0) return;
        pending.append(buffer, static_cast<size_t>(got));
    }
}
