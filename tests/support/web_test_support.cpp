#include "support/web_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
        ::unsetenv(name);
    }
}

int ClosedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

int ListenOnLoopback(int& port, int receiveBuffer) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return s;
}

std::string StatusLine(int port, const std::string& request) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    timeval limit{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char buffer[256];
        const ssize_t got = ::recv(s, buffer, sizeof(buffer), 0);
        if (got > 0) answer.assign(buffer, static_cast<size_t>(got));
    }
    ::close(s);
    return answer.substr(0, answer.find("\r\n"));
}

std::string LocalUrl(int port, const std::string& path, const std::string& scheme) {
    return scheme + "://127.0.0.1:" + std::to_string(port) + path;
}

std::string PatternBytes(size_t count, char seed) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(1 + (i * 7 + seed) % 251);
    return bytes;
}

std::string SizeHeader(uint32_t size) {
    return std::string{static_cast<char>(size & 0xff), static_cast<char>((size >> 8) & 0xff),
                       static_cast<char>((size >> 16) & 0xff),
                       static_cast<char>((size >> 24) & 0xff)};
}
