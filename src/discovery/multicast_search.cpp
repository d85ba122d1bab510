#include "discovery/multicast_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/http_url.h"
#include "base/trace.h"
#include "discovery/repeat_schedule.h"
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

void CMulticastSearch::SizeReceiveBuffer(int fd) const {
    // Every device on the LAN answers the same request at the same moment, each reply
    // costing the buffer kBytesPerReply: the default (208 KB, counted twice over) holds
    // some 180 replies and drops the rest of a larger burst.
    // net.core.rmem_max caps SO_RCVBUF; a process allowed to (CAP_NET_ADMIN) passes it.
    if (!SetSocketOption(fd, SOL_SOCKET, SO_RCVBUFFORCE, kSocketReceiveBytes) &&
        !SetSocketOption(fd, SOL_SOCKET, SO_RCVBUF, kSocketReceiveBytes)) {
        Trace("%s search: receive buffer stays at its default: %s", GetName().c_str(),
              std::strerror(errno));
        return;
    }
    int granted = 0;
    socklen_t length = sizeof granted;
    // The kernel reports twice what it grants for data (the other half is bookkeeping).
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 &&
        granted / 2 < kSocketReceiveBytes) {
        Trace(
            "%s search: receive buffer %d bytes, %d asked for (net.core.rmem_max caps it); "
            "a burst of more than about %d replies may lose some",
            GetName().c_str(), granted / 2, kSocketReceiveBytes, granted / kBytesPerReply);
    }
}

size_t CMulticastSearch::SendRequests(int fd, const std::vector<AdapterEntry>& adapters,
                                      std::vector<bool>& usable, bool first) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(destinationPort_);
    ::inet_pton(AF_INET, group_.c_str(), &destination.sin_addr);
    size_t sent = 0;
    for (size_t i = 0; i < adapters.size(); ++i) {
        const AdapterEntry& adapter = adapters[i];
        if (first) {
            usable[i] = AimAtAdapter(fd, destination.sin_addr, adapter);
            if (!usable[i]) {
                Trace("%s search: adapter %s (%s) skipped: %s", GetName().c_str(),
                      adapter.InterfaceName.c_str(), adapter.Address.c_str(), std::strerror(errno));
            }
        } else if (usable[i]) {
            // The group is joined already; only the interface the request leaves by changes.
            in_addr local{};
            usable[i] = ::inet_pton(AF_INET, adapter.Address.c_str(), &local) == 1 &&
                        SetSocketOption(fd, IPPROTO_IP, IP_MULTICAST_IF, local);
        }
        if (!usable[i]) continue;
        std::array<uint8_t, kRequestBuffer> request{};
        const size_t length = BuildRequest(adapter, request);
        if (::sendto(fd, request.data(), length, 0, reinterpret_cast<sockaddr*>(&destination),
                     sizeof destination) < 0) {
            Trace("%s search: request on %s not sent: %s", GetName().c_str(),
                  adapter.InterfaceName.c_str(), std::strerror(errno));
        } else {
            ++sent;
        }
    }
    return sent;
}

bool CMulticastSearch::ClaimBelievable(const CIPCamInfo& record, const std::string& sender) const {
    // A reply names the address its device is asked at, with the credentials: one on this
    // machine or only on the link is believed only from the device at that address.
    if (!IsLoopbackOrLinkLocal(record.HostAddress) || record.HostAddress == sender) return true;
    Trace("%s search: a reply from %s claims address %s; ignored", GetName().c_str(),
          sender.c_str(), record.HostAddress.c_str());
    return false;
}

void CMulticastSearch::Receive(std::stop_token token) {
    using SteadyClock = std::chrono::steady_clock;
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
    SizeReceiveBuffer(socket.Get());

    // The request goes out again while the search listens, so that one lost request or
    // reply hides no device; the replies of every round merge in the device table.
    std::vector<bool> usable(adapters.size(), false);
    RepeatSchedule repeats(SteadyClock::now());
    SendRequests(socket.Get(), adapters, usable, true);
    repeats.Sent(SteadyClock::now());
    ClearResultSet();
    // The search ends a receive wait after the last reply or request, whichever is later.
    const auto wait = std::chrono::milliseconds(kReceiveWaitMs);
    SteadyClock::time_point lastActivity = SteadyClock::now();
    SteadyClock::time_point lastSend = lastActivity;
    std::array<uint8_t, kDatagramBytes> datagram;
    while (!StopRequested(token)) {
        const SteadyClock::time_point now = SteadyClock::now();
        const std::optional<SteadyClock::time_point> next = repeats.NextSend();
        // Replies still waiting in the socket are read first: counted as lost, they would
        // call for yet more requests, and more replies, than a busy receiver can take.
        pollfd waiting{socket.Get(), POLLIN, 0};
        if (next && *next <= now && ::poll(&waiting, 1, 0) == 0) {
            SendRequests(socket.Get(), adapters, usable, false);
            repeats.Sent(now);
            lastActivity = lastSend = now;
            continue;
        }
        const SteadyClock::time_point listenEnd =
            std::min(lastActivity + wait, lastSend + std::chrono::milliseconds(kMostListenMs));
        if (!next && now >= listenEnd) break;
        const auto until = next && *next > now ? std::min(*next, listenEnd) : listenEnd;
        // Short enough to notice a stop request within the time a person waits for.
        const auto pause =
            std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(until - now),
                       std::chrono::milliseconds(1), std::chrono::milliseconds(kStopCheckMs));
        pollfd readable{socket.Get(), POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(pause.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(socket.Get(), datagram.data(), datagram.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) continue;
        lastActivity = SteadyClock::now();
        char sender[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
        CIPCamInfo record;
        if (ParseReply(std::span<const uint8_t>(datagram.data(), static_cast<size_t>(length)),
                       record) &&
            ClaimBelievable(record, sender)) {
            repeats.Replied(record.HostAddress);
            DeliverDevice(record);
        }
    }
    Trace("%s search: request sent %d times, estimated loss %.0f %%", GetName().c_str(),
          repeats.Sends(), repeats.EstimatedLoss() * 100);
}
