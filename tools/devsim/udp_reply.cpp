#include "udp_reply.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

// A one-datagram message header over `io`, with room for control data.
msghdr Message(sockaddr_in& peer, iovec& io, void* control, size_t controlSize) {
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof peer;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = controlSize;
    return message;
}

}  // namespace

bool ReceiveDatagram(int fd, void* buffer, size_t size, ReceivedDatagram& out) {
    alignas(cmsghdr) char control[256];
    iovec io{buffer, size};
    out = ReceivedDatagram();
    msghdr message = Message(out.From, io, control, sizeof control);
    const ssize_t received = ::recvmsg(fd, &message, 0);
    if (received < 0) return false;
    out.Length = static_cast<size_t>(received);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            out.InterfaceIndex = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_ifindex;
        }
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &out.From.sin_addr, text, sizeof text);
    out.FromText = text;
    return true;
}

bool SendFrom(int fd, const sockaddr_in& to, int interfaceIndex, const std::string& source,
              const void* data, size_t size) {
    sockaddr_in peer = to;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<void*>(data), size};
    msghdr message = Message(peer, io, control, sizeof control);
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    auto* info = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c));
    info->ipi_ifindex = interfaceIndex;
    ::inet_pton(AF_INET, source.c_str(), &info->ipi_spec_dst);
    return ::sendmsg(fd, &message, 0) >= 0;
}

bool JoinGroup(int fd, const char* group, const std::string& address) {
    ip_mreq membership{};
    if (::inet_pton(AF_INET, group, &membership.imr_multiaddr) != 1 ||
        ::inet_pton(AF_INET, address.c_str(), &membership.imr_interface) != 1) {
        errno = EINVAL;
        return false;
    }
    return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 ||
           errno == EADDRINUSE;
}

void RunResponder(int fd, std::stop_token stop, std::chrono::milliseconds idle,
                  const std::function<std::optional<SteadyTime>()>& nextDue,
                  const std::function<void()>& receive, const std::function<void()>& sendDue) {
    while (!stop.stop_requested()) {
        int waitMs = static_cast<int>(idle.count());
        if (const std::optional<SteadyTime> due = nextDue()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *due - std::chrono::steady_clock::now());
            waitMs = std::clamp(static_cast<int>(left.count()), 0, waitMs);
        }
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, waitMs) > 0) receive();
        sendDue();
    }
}
