// The parts of the adapter list that come from system files.
#include <gtest/gtest.h>

#include "discovery/adapters.h"

namespace {

TEST(AdaptersTest, DefaultGatewaysFromTheRouteTable) {
    const char* route =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth1\t00000000\t FE0013C6\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth1\t00000000\tFD0013C6\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
        "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth2\t00000000\tnot-hex\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "broken line\n";
    auto gateways = ParseDefaultGateways(route);
    // eth0: a subnet route; wlan0: route not up; tun0: no gateway; eth2: malformed.
    EXPECT_EQ(gateways, (std::map<std::string, std::string>{{"eth1", "198.19.0.254"}}));
    EXPECT_TRUE(ParseDefaultGateways("").empty());
}

TEST(AdaptersTest, NameserversFromResolvConf) {
    const char* conf =
        "# generated\n"
        "search lab.example\n"
        "nameserver 198.18.0.53\r\n"
        "nameserver fe80::1\n"
        "  nameserver\t198.18.0.54  # second\n"
        "; nameserver 10.9.9.9\n"
        "nameserver 999.1.1.1\n"
        "nameserver\n"
        "nameserver 198.18.0.55\n";
    EXPECT_EQ(ParseNameservers(conf),
              (std::vector<std::string>{"198.18.0.53", "198.18.0.54", "198.18.0.55"}));
}

}  // namespace
