#include "http_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr size_t kMaxHeadBytes = 65536;
constexpr int kIdleSeconds = 10;  // a silent peer ends its relay
constexpr int kAcceptPollMs = 200;

std::string Base64(const std::string& text) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8) |
                           static_cast<unsigned char>(text[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
    }
    if (i < text.size()) {
        unsigned v = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) v |= static_cast<unsigned char>(text[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < text.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void SetIdleLimit(int fd) {
    timeval limit{kIdleSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// The value of header `name` (lower case) in `head`; empty when absent.
std::string HeaderValue(const std::vector<std::string>& lines, const std::string& name) {
    for (const std::string& line : lines) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || Lower(line.substr(0, colon)) != name) continue;
        const size_t start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return {};
}

int ConnectLoopback(const std::string& host, int port) {
    in_addr address{};
    // Loopback only: whatever a request names, nothing leaves the machine.
    if (::inet_pton(AF_INET, host.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127) {
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr = address;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(fd);
        return -1;
    }
    SetIdleLimit(fd);
    return fd;
}

}  // namespace

HttpProxy::HttpProxy(ProxyConfig config) : config_(std::move(config)) {}

HttpProxy::~HttpProxy() { Stop(); }

bool HttpProxy::Start(std::string& error) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(config_.Port));
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof address;
    if (listen_ < 0 || ::inet_pton(AF_INET, config_.Address.c_str(), &address.sin_addr) != 1 ||
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "proxy: cannot listen on " + config_.Address + ":" + std::to_string(config_.Port) +
                ": " + std::strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpProxy::Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers) worker.join();
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
}

void HttpProxy::AcceptLoop() {
    while (!stopping_) {
        pollfd ready{listen_, POLLIN, 0};
        if (::poll(&ready, 1, kAcceptPollMs) <= 0) continue;
        const int client = ::accept(listen_, nullptr, nullptr);
        if (client < 0) continue;
        SetIdleLimit(client);
        std::lock_guard lock(mutex_);
        workers_.emplace_back([this, client] {
            Serve(client);
            ::close(client);
        });
    }
}

void HttpProxy::Log(const std::string& line) {
    if (!config_.LogRequests) return;
    std::lock_guard lock(mutex_);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void HttpProxy::Serve(int client) {
    std::string head;
    char buffer[16384];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHeadBytes) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<size_t>(n));
    }
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) return;
    std::string body = head.substr(end + 4);
    std::vector<std::string> lines;
    std::istringstream in(head.substr(0, end));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    std::istringstream first(lines.empty() ? std::string() : lines[0]);
    std::string method, url, version;
    first >> method >> url >> version;
    const std::string prefix = "http://";
    if (url.rfind(prefix, 0) != 0) {
        SendText(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    const size_t slash = url.find('/', prefix.size());
    const std::string authority = url.substr(prefix.size(), slash - prefix.size());
    const std::string path = slash == std::string::npos ? "/" : url.substr(slash);
    const size_t colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const int port = colon == std::string::npos ? 80 : std::atoi(authority.c_str() + colon + 1);

    std::string auth = "none";
    if (!config_.User.empty()) {
        const bool ok = HeaderValue(lines, "proxy-authorization") ==
                        "Basic " + Base64(config_.User + ":" + config_.Password);
        auth = ok ? "ok" : "refused";
        if (!ok) {
            Log("proxy method=" + method + " url=" + url + " auth=refused cut=0");
            SendText(client,
                     "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                     "realm=\"devsim\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
    }
    const int upstream = ConnectLoopback(host, port);
    if (upstream < 0) {
        Log("proxy method=" + method + " url=" + url + " auth=" + auth + " cut=0");
        SendText(client,
                 "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::string forward = method + " " + path + " " + version + "\r\n";
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string name = Lower(lines[i].substr(0, lines[i].find(':')));
        if (name.rfind("proxy-", 0) == 0 || name == "connection") continue;
        forward += lines[i] + "\r\n";
    }
    forward += "Connection: close\r\n\r\n";
    // The request's body: what came with the head, then the rest by Content-Length.
    const long long length = std::atoll(HeaderValue(lines, "content-length").c_str());
    while (static_cast<long long>(body.size()) < length) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        body.append(buffer, static_cast<size_t>(n));
    }
    bool cut = false;
    if (SendText(upstream, forward) && SendText(upstream, body)) {
        long long relayed = 0;
        for (;;) {
            const ssize_t n = ::recv(upstream, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            size_t count = static_cast<size_t>(n);
            // Only the first answer that reaches the mark is cut, so the retry gets through.
            if (config_.CutAfter > 0 && relayed + n >= config_.CutAfter && !cut_.exchange(true)) {
                count = static_cast<size_t>(config_.CutAfter - relayed);
                cut = true;
            }
            if (!SendAll(client, buffer, count) || cut) break;
            relayed += n;
        }
    }
    ::close(upstream);
    Log("proxy method=" + method + " url=" + url + " auth=" + auth + " cut=" + (cut ? "1" : "0"));
}
