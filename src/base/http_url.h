#pragma once

#include <optional>
#include <string>
#include <string_view>

// An "http" or "https" address as devices name them (WS-Discovery's service addresses,
// an ONVIF upload address): the scheme in lower case, the host as written (an IPv6
// literal keeps its brackets), the port (80 or 443 when none is written) and the path
// with its query ("/" when none is written).
struct HttpUrl {
    std::string Scheme;
    std::string Host;
    int Port = 0;
    std::string Path;

    bool Https() const { return Scheme == "https"; }
    // "scheme://host:port/path", the port always written.
    std::string Text() const;
};

// Nothing for another scheme, user information ("user@"), an empty host, a host with
// characters no address holds, or a port outside 1 to 65535.
std::optional<HttpUrl> ParseHttpUrl(std::string_view text);

// A loopback or link-local address (127.0.0.0/8, 169.254.0.0/16, ::1, fe80::/10, with or
// without IPv6 brackets): one no device on the LAN may claim for another host.
bool IsLoopbackOrLinkLocal(std::string_view host);
