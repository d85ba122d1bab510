#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/adapter_entry.h"

// Every IPv4 adapter of this thread's network namespace that is up, not loopback and
// not "0.0.0.0", in the order the system lists them. A non-empty `onlyInterfaces`
// keeps just the adapters with those names.
std::vector<AdapterEntry> EnumerateAdapters(const std::vector<std::string>& onlyInterfaces);

// Interface name -> its first default gateway (dotted text), from the text of
// /proc/net/route.
std::map<std::string, std::string> ParseDefaultGateways(std::string_view procNetRoute);

// The IPv4 "nameserver" entries of a resolv.conf text, in order.
std::vector<std::string> ParseNameservers(std::string_view resolvConf);
