// The text formats devices hand us in ONVIF exchanges: service and upload addresses,
// and the durations a device names for its upload delay and its restart.
#include <gtest/gtest.h>

#include "base/http_url.h"
#include "base/xs_duration.h"

namespace {

TEST(HttpUrlTest, ReadsWhatDevicesNameAndRefusesTheRest) {
    const struct {
        const char* Text;
        const char* Scheme;  // nullptr: refused
        const char* Host;
        int Port;
        const char* Path;
    } cases[] = {
        {"http://198.18.1.5/onvif/device_service", "http", "198.18.1.5", 80,
         "/onvif/device_service"},
        {"HTTPS://10.0.0.7:8443/upload?t=1#frag", "https", "10.0.0.7", 8443, "/upload?t=1"},
        {"http://[fd00::7]:8080/onvif/device_service", "http", "[fd00::7]", 8080,
         "/onvif/device_service"},
        {"http://cam.local", "http", "cam.local", 80, "/"},
        {"http://10.0.0.7:80?x=1", "http", "10.0.0.7", 80, "/?x=1"},
        {"ftp://10.0.0.7/fw", nullptr, "", 0, ""},
        {"http://user:pw@10.0.0.7/", nullptr, "", 0, ""},
        {"http://10.0.0.7:0/", nullptr, "", 0, ""},
        {"http://10.0.0.7:65536/", nullptr, "", 0, ""},
        {"http://10.0.0.7:8a/", nullptr, "", 0, ""},
        {"http:///path", nullptr, "", 0, ""},
        {"http://fd00::7/", nullptr, "", 0, ""},
        {"http://[fd00::7/", nullptr, "", 0, ""},
        {"http://evil host/", nullptr, "", 0, ""},
        {"10.0.0.7/onvif", nullptr, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        const std::optional<HttpUrl> url = ParseHttpUrl(c.Text);
        ASSERT_EQ(url.has_value(), c.Scheme != nullptr);
        if (!url) continue;
        EXPECT_EQ(url->Scheme, c.Scheme);
        EXPECT_EQ(url->Host, c.Host);
        EXPECT_EQ(url->Port, c.Port);
        EXPECT_EQ(url->Path, c.Path);
        // What Text() writes reads back the same.
        EXPECT_EQ(ParseHttpUrl(url->Text())->Text(), url->Text());
    }
}

TEST(HttpUrlTest, LoopbackAndLinkLocalHostsAreKnown) {
    for (const char* host :
         {"127.0.0.1", "127.9.9.9", "169.254.7.7", "::1", "[::1]", "fe80::1", "[FEBF::2]"}) {
        EXPECT_TRUE(IsLoopbackOrLinkLocal(host)) << host;
    }
    for (const char* host :
         {"198.18.1.7", "10.127.0.1", "169.25.0.1", "fec0::1", "2001:db8::1", "cam.example", ""}) {
        EXPECT_FALSE(IsLoopbackOrLinkLocal(host)) << host;
    }
}

TEST(XsDurationTest, StrictAndBounded) {
    constexpr int64_t kHour = 3600 * 1000;
    const struct {
        const char* Text;
        int64_t Ms;  // -1: refused
    } cases[] = {
        {"PT30S", 30000},
        {"PT2M", 120000},
        {"PT1H2M3S", kHour + 123000},
        {"P1D", 24 * kHour},
        {"P0DT1H", kHour},
        {"PT1.5S", 1500},
        {"PT0.0015S", 1},
        {"PT0S", 0},
        {"P0D", 0},
        {"PT", -1},
        {"P", -1},
        {"", -1},
        {"30S", -1},
        {"-PT30S", -1},
        {"PT30", -1},
        {"P30S", -1},
        {"PT1S2M", -1},
        {"PT1M1M", -1},
        {"P1H", -1},
        {"PT1.S", -1},
        {"PT.5S", -1},
        {"P1.5D", -1},
        {"PT1.5M", -1},
        {"PT 30S", -1},
        {"PTT1S", -1},
        {"P1DT", -1},
        {"PT25H", -1},  // beyond the limit
        {"PT99999999999999999999S", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        const std::optional<int64_t> ms = ParseXsDuration(c.Text, 24 * kHour);
        ASSERT_EQ(ms.has_value(), c.Ms >= 0);
        if (ms) {
            EXPECT_EQ(*ms, c.Ms);
        }
    }
    // The limit itself is inside.
    EXPECT_EQ(ParseXsDuration("PT24H", 24 * kHour), 24 * kHour);
    EXPECT_FALSE(ParseXsDuration("PT24H0.001S", 24 * kHour));
}

}  // namespace
