#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <string>

// The datagram plumbing of devsim's discovery responders: a simulated device answers
// from its own address, out of the interface the request came in on.

struct ReceivedDatagram {
    size_t Length = 0;
    sockaddr_in From{};
    std::string FromText;    // the sender's dotted address
    int InterfaceIndex = 0;  // where it came in (IP_PKTINFO must be on for the socket)
};

// Receives one datagram into `buffer`; false when the receive failed.
bool ReceiveDatagram(int fd, void* buffer, size_t size, ReceivedDatagram& out);

// Sends `size` bytes to `to` from the dotted address `source`, out of interface
// `interfaceIndex`; false (errno set) when it could not be sent.
bool SendFrom(int fd, const sockaddr_in& to, int interfaceIndex, const std::string& source,
              const void* data, size_t size);
