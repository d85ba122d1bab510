#include "discovery/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "base/text.h"
#include "base/trace.h"

namespace {

// Route flags of /proc/net/route (RTF_UP, RTF_GATEWAY).
constexpr unsigned kRouteUp = 0x1;
constexpr unsigned kRouteGateway = 0x2;

std::string ReadFile(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DottedText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool ParseHex(const std::string& text, uint32_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    return ec == std::errc() && ptr == end;
}

bool IsLoopbackText(const std::string& dotted) { return StartsWith(dotted, "127."); }

// The system's DNS servers. A local stub resolver (127.0.0.53) means nothing to a
// device, so its upstream list is taken instead.
std::vector<std::string> SystemNameservers() {
    for (const char* path : {"/etc/resolv.conf", "/run/systemd/resolve/resolv.conf"}) {
        std::vector<std::string> servers = ParseNameservers(ReadFile(path));
        std::erase_if(servers, IsLoopbackText);
        if (!servers.empty()) return servers;
    }
    return {};
}

using LeaseKey = std::pair<unsigned, uint32_t>;  // interface index, address

// The IPv4 addresses that carry a lifetime. DHCP clients give their address the
// lease time; addresses set by hand are permanent. Linux keeps no other DHCP mark.
std::set<LeaseKey> LeasedAddresses() {
    std::set<LeaseKey> leased;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return leased;
    struct {
        nlmsghdr Header;
        ifaddrmsg Message;
    } request{};
    request.Header.nlmsg_len = sizeof request;
    request.Header.nlmsg_type = RTM_GETADDR;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Message.ifa_family = AF_INET;
    bool done = ::send(fd, &request, sizeof request, 0) < 0;
    alignas(nlmsghdr) char buffer[16384];
    while (!done) {
        ssize_t left = ::recv(fd, buffer, sizeof buffer, 0);
        if (left <= 0) break;
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWADDR) continue;
            auto* message = static_cast<ifaddrmsg*>(NLMSG_DATA(h));
            uint32_t flags = message->ifa_flags;
            uint32_t local = 0;
            int length = static_cast<int>(IFA_PAYLOAD(h));
            for (rtattr* a = IFA_RTA(message); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
                if (a->rta_type == IFA_FLAGS) std::memcpy(&flags, RTA_DATA(a), sizeof flags);
                if (a->rta_type == IFA_LOCAL) std::memcpy(&local, RTA_DATA(a), sizeof local);
            }
            if (!(flags & IFA_F_PERMANENT)) leased.insert({message->ifa_index, local});
        }
    }
    ::close(fd);
    return leased;
}

}  // namespace

std::map<std::string, std::string> ParseDefaultGateways(std::string_view procNetRoute) {
    std::map<std::string, std::string> gateways;
    std::istringstream lines{std::string(procNetRoute)};
    std::string line;
    std::getline(lines, line);  // column headings
    while (std::getline(lines, line)) {
        std::vector<std::string> f = SplitAny(line, " \t");
        uint32_t destination, gateway, flags, mask;
        if (f.size() < 8 || !ParseHex(f[1], destination) || !ParseHex(f[2], gateway) ||
            !ParseHex(f[3], flags) || !ParseHex(f[7], mask)) {
            continue;
        }
        const bool isDefault = destination == 0 && mask == 0;
        const bool viaGateway = (flags & (kRouteUp | kRouteGateway)) == (kRouteUp | kRouteGateway);
        // The kernel prints the address word as it lies in memory, so it goes back as is.
        if (isDefault && viaGateway) gateways.emplace(f[0], DottedText(in_addr{gateway}));
    }
    return gateways;
}

std::vector<std::string> ParseNameservers(std::string_view resolvConf) {
    std::vector<std::string> servers;
    for (const std::string& line : SplitAny(resolvConf, "\n")) {
        std::vector<std::string> words = SplitAny(line, " \t\r");
        in_addr address;
        if (words.size() >= 2 && words[0] == "nameserver" &&
            ::inet_pton(AF_INET, words[1].c_str(), &address) == 1) {
            servers.push_back(words[1]);
        }
    }
    return servers;
}

std::vector<AdapterEntry> EnumerateAdapters(const std::vector<std::string>& onlyInterfaces) {
    std::vector<AdapterEntry> adapters;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        Trace("adapter list unavailable: %s", std::strerror(errno));
        return adapters;
    }
    // thread-self: a test or the lab may run this thread in another network namespace.
    const auto gateways = ParseDefaultGateways(ReadFile("/proc/thread-self/net/route"));
    const std::vector<std::string> dns = SystemNameservers();
    const std::set<LeaseKey> leased = LeasedAddresses();
    std::set<std::string> seen;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        // Secondary addresses come with labels such as "eth0:1"; the adapter is "eth0",
        // and only its first address counts.
        std::string name = i->ifa_name;
        name = name.substr(0, name.find(':'));
        if (!seen.insert(name).second) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        if (!onlyInterfaces.empty() &&
            std::find(onlyInterfaces.begin(), onlyInterfaces.end(), name) == onlyInterfaces.end()) {
            continue;
        }
        const in_addr address = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        AdapterEntry entry;
        entry.InterfaceName = name;
        entry.Address = DottedText(address);
        if (entry.Address == "0.0.0.0") continue;
        if (i->ifa_netmask) {
            entry.Mask = DottedText(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr);
        }
        auto gateway = gateways.find(name);
        entry.Gateway = gateway != gateways.end() ? gateway->second : entry.Address;
        if (dns.size() > 0) entry.Dns1 = dns[0];
        if (dns.size() > 1) entry.Dns2 = dns[1];
        entry.DhcpEnabled = leased.count({::if_nametoindex(name.c_str()), address.s_addr}) ? 1 : 0;
        adapters.push_back(entry);
    }
    ::freeifaddrs(list);
    return adapters;
}
