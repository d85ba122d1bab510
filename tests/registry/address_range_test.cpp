// Address ranges as typed on the command line and in the Add popup.
#include "registry/address_range.h"

#include <gtest/gtest.h>

namespace {

struct RangeCase {
    const char* Text;
    bool Parses;
    const char* First;  // the first and last address asked
    const char* Last;
    uint64_t Count;
    int Port;
    bool TooLarge;
};

TEST(AddressRangeTest, BlocksSpansAndPortsParseOrAreRefusedClearly) {
    const RangeCase cases[] = {
        // A block's network and broadcast addresses are no devices.
        {"10.20.0.0/24", true, "10.20.0.1", "10.20.0.254", 254, 80, false},
        {"10.20.0.77/24", true, "10.20.0.1", "10.20.0.254", 254, 80, false},
        {"10.20.0.0/27:8080", true, "10.20.0.1", "10.20.0.30", 30, 8080, false},
        {"10.20.0.6/31", true, "10.20.0.6", "10.20.0.7", 2, 80, false},
        {"10.20.0.6/32", true, "10.20.0.6", "10.20.0.6", 1, 80, false},
        {"10.20.0.0/16", true, "10.20.0.1", "10.20.255.254", 65534, 80, false},
        {" 10.20.0.10-10.20.0.60 ", true, "10.20.0.10", "10.20.0.60", 51, 80, false},
        {"10.20.0.10-60:81", true, "10.20.0.10", "10.20.0.60", 51, 81, false},
        {"10.20.0.250-10.20.1.5", true, "10.20.0.250", "10.20.1.5", 12, 80, false},
        {"10.20.0.0-10.20.255.255", true, "10.20.0.0", "10.20.255.255", 65536, 80, false},
        {"10.20.0.9", true, "10.20.0.9", "10.20.0.9", 1, 80, false},
        // Larger than a /16: refused, and said so.
        {"10.20.0.0/15", false, "", "", 0, 0, true},
        {"10.0.0.0/8", false, "", "", 0, 0, true},
        {"10.20.0.0-10.21.0.0", false, "", "", 0, 0, true},
        // Malformed.
        {"10.20.0.60-10.20.0.10", false, "", "", 0, 0, false},
        {"10.20.0.0/33", false, "", "", 0, 0, false},
        {"10.20.0.0/", false, "", "", 0, 0, false},
        {"10.20.0/24", false, "", "", 0, 0, false},
        {"10.20.0.10-256", false, "", "", 0, 0, false},
        {"10.20.0.0/24:0", false, "", "", 0, 0, false},
        {"10.20.0.0/24:65536", false, "", "", 0, 0, false},
        {"10.20.0.0/24:", false, "", "", 0, 0, false},
        {"cam-01", false, "", "", 0, 0, false},
        {"", false, "", "", 0, 0, false},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.Text);
        AddressRange range;
        std::string error;
        bool tooLarge = false;
        ASSERT_EQ(ParseAddressRange(c.Text, range, error, &tooLarge), c.Parses) << error;
        EXPECT_EQ(tooLarge, c.TooLarge);
        if (!c.Parses) {
            EXPECT_FALSE(error.empty());
            if (c.TooLarge) {
                EXPECT_NE(error.find("(a /16)"), std::string::npos) << error;
            }
            continue;
        }
        EXPECT_EQ(range.AddressAt(0), c.First);
        EXPECT_EQ(range.AddressAt(range.Count() - 1), c.Last);
        EXPECT_EQ(range.Count(), c.Count);
        EXPECT_EQ(range.Port, c.Port);
    }
}

TEST(AddressRangeTest, RangesTogetherStayWithinASlash16AndRangesAreToldFromHosts) {
    std::vector<AddressRange> ranges;
    std::string error;
    ASSERT_TRUE(ParseAddressRanges({"10.0.0.0/17", "10.1.0.0/18"}, ranges, error)) << error;
    EXPECT_EQ(ranges.size(), 2u);
    EXPECT_FALSE(ParseAddressRanges({"10.0.0.0/16", "10.1.0.0/24"}, ranges, error));
    EXPECT_NE(error.find("at most 65536"), std::string::npos) << error;

    for (const char* range : {"10.0.0.0/24", "10.0.0.1-9", " 10.0.0.1-10.0.0.9:80"}) {
        EXPECT_TRUE(LooksLikeRange(range)) << range;
    }
    for (const char* host : {"10.0.0.1", "cam-01", "nvr-2.site", "::1", "[fe80::1]:80"}) {
        EXPECT_FALSE(LooksLikeRange(host)) << host;
    }
}

}  // namespace
