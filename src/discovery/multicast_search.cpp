#include "discovery/multicast_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "base/trace.h"
#include "discovery/socket_fd.h"

namespace {

// Points the socket's multicast sends at the adapter and joins the group there. The
// options stay on the socket after the loop; the last adapter's interface wins.
bool AimAtAdapter(int fd, in_addr group, const AdapterEntry& adapter) {
    in_addr local{};
    if (::inet_pton(AF_INET, adapter.Address.c_str(), &local) != 1) return false;
    const unsigned char loop = 0;  // our own requests must not come back as replies
    const unsigned char ttl = 1;   // requests stay on the local link
    ip_mreq membership{};
    membership.imr_multiaddr = group;
    membership.imr_interface = local;
    return SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, loop) &&
           SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, ttl) &&
           SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_IF, local) &&
           SetSocketOption(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, membership);
}

}  // namespace

CMulticastSearch::CMulticastSearch(std::string name, std::string group, uint16_t destinationPort,
                                   uint16_t localPort)
    : CSearch(std::move(name)),
      group_(std::move(group)),
      destinationPort_(destinationPort),
      localPort_(localPort) {}

void CMulticastSearch::Start() {
    LaunchReceiveThread([this](std::stop_token token) { Receive(token); });
}

void CMulticastSearch::Receive(std::stop_token token) {
    const std::vector<AdapterEntry> adapters = SearchAdapters();
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort_);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    const int reuse = 1;
    if (socket.Get() < 0 || !SetSocketOption(socket.Get(), SOL_SOCKET, SO_REUSEADDR, reuse) ||
        ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Trace("%s search: no socket on port %u: %s", GetName().c_str(), localPort_,
              std::strerror(errno));
        return;
    }
    // Every device on the LAN answers the same request at the same moment. The kernel
    // counts about 1.3 KB per reply against the receive buffer, so its default (208 KB)
    // holds some 160 replies and drops the rest of a larger burst. net.core.rmem_max
    // caps what we get; the stock cap still holds over 300 replies.
    if (!SetSocketOption(socket.Get(), SOL_SOCKET, SO_RCVBUF, kSocketReceiveBytes)) {
        Trace("%s search: receive buffer stays at its default: %s", GetName().c_str(),
              std::strerror(errno));
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(destinationPort_);
    ::inet_pton(AF_INET, group_.c_str(), &destination.sin_addr);
    for (const AdapterEntry& adapter : adapters) {
        if (!AimAtAdapter(socket.Get(), destination.sin_addr, adapter)) {
            Trace("%s search: adapter %s (%s) skipped: %s", GetName().c_str(),
                  adapter.InterfaceName.c_str(), adapter.Address.c_str(), std::strerror(errno));
            continue;
        }
        std::array<uint8_t, kRequestBuffer> request{};
        const size_t length = BuildRequest(adapter, request);
        if (::sendto(socket.Get(), request.data(), length, 0,
                     reinterpret_cast<sockaddr*>(&destination), sizeof destination) < 0) {
            Trace("%s search: request on %s not sent: %s", GetName().c_str(),
                  adapter.InterfaceName.c_str(), std::strerror(errno));
        }
    }

    ClearResultSet();
    std::array<uint8_t, kDatagramBytes> datagram;
    while (!StopRequested(token)) {
        pollfd wait{socket.Get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, kReceiveWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t length = ::recv(socket.Get(), datagram.data(), datagram.size(), 0);
        if (length < 0) continue;
        CIPCamInfo record;
        if (ParseReply(std::span<const uint8_t>(datagram.data(), static_cast<size_t>(length)),
                       record)) {
            DeliverDevice(record);
        }
    }
}
