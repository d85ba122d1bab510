#include "connection_cut.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

namespace {

struct Endpoint {
    std::string Address;
    int Port = -1;
};

Endpoint EndpointOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    Endpoint e;
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        e.Port = ntohs(in.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        e.Port = ntohs(in6.sin6_port);
    }
    e.Address = text;
    return e;
}

}  // namespace

bool CutConnection(const httplib::Request& req) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return false;
    bool cut = false;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == ::dirfd(dir)) continue;
        sockaddr_storage peer{};
        sockaddr_storage local{};
        socklen_t peerLength = sizeof peer;
        socklen_t localLength = sizeof local;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
            continue;
        }
        const Endpoint from = EndpointOf(peer);
        if (from.Port != req.remote_port || from.Address != req.remote_addr) continue;
        if (req.local_port > 0 && EndpointOf(local).Port != req.local_port) continue;
        cut = ::shutdown(fd, SHUT_RDWR) == 0;
        break;
    }
    ::closedir(dir);
    return cut;
}
