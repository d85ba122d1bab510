#include "firmware/host_probes.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/statvfs.h>

bool NetworkConnected() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool connected = false;
    for (const ifaddrs* a = list; a && !connected; a = a->ifa_next) {
        const unsigned flags = a->ifa_flags;
        connected = a->ifa_addr &&
                    (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6) &&
                    (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    ::freeifaddrs(list);
    return connected;
}

int64_t AvailableBytes(const std::string& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}
