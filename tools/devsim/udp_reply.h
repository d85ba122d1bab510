#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
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

// Joins `group` on the interface of the dotted address `address`; an interface already
// joined (devices sharing one) counts as joined. False (errno set) otherwise.
bool JoinGroup(int fd, const char* group, const std::string& address);

// A responder's loop until `stop`: waits (at most `idle`) for a datagram and hands it to
// `receive`, then lets `sendDue` send the replies whose time has come; `nextDue` names
// the time of the next one, if any, so that it goes out on time.
using SteadyTime = std::chrono::steady_clock::time_point;
void RunResponder(int fd, std::stop_token stop, std::chrono::milliseconds idle,
                  const std::function<std::optional<SteadyTime>()>& nextDue,
                  const std::function<void()>& receive, const std::function<void()>& sendDue);
