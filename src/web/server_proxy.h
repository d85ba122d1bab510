#pragma once

#include <string>

// The proxy through which the firmware server is reached when one is set; devices are
// never reached through it. An empty address leaves the choice to the proxy
// environment variables (http_proxy, https_proxy, no_proxy).
struct ServerProxy {
    std::string Address;  // "host:port" or "http://host:port"
    std::string User;     // empty: no log-in
    std::string Password;
};
