// The dispatch's reading of firmware versions as numbers, and which image counts as newer.
#include <gtest/gtest.h>

#include <limits>

#include "device/firmware_version.h"

namespace {

TEST(FirmwareVersionTest, VersionsReadAsNumbers) {
    const struct {
        const char* Text;
        int64_t Number;
    } cases[] = {
        {"1.2.3", 123},
        {"1.2.10", 1210},
        {"v2.3.7.8", 378},
        {"1.2", 12},
        {"1.2.0", 120},
        {"2.0C1", 201},
        {"2.0b1", 20},
        {"100", 100},
        {"", 0},
        {"1..2", 12},
        {".5.", 5},
        {"C", 0},
        {"3.0C", 30},
        {"1.2-rc", 10},
        {"0.0.1", 1},
        {"01.02", 102},
        {"99999999999.99999999999", std::numeric_limits<int64_t>::max()},
    };
    for (const auto& c : cases) EXPECT_EQ(FirmwareVersionNumber(c.Text), c.Number) << c.Text;
}

TEST(FirmwareVersionTest, TheStoresImageIsNewerWhenItsNumberIsGreater) {
    const struct {
        const char* Device;
        const char* Catalogue;
        bool Newer;
    } cases[] = {
        {"1.2.3", "1.2.10", true},
        {"1.2.10", "1.2.3", false},
        {"1.2", "1.2.0", true},
        {"1.2.0", "1.2", false},
        {"2.0.0", "2.0.0", false},
        {"v2.3.7.8", "3.8", false},
        {"2.0b1", "2.0C1", true},
        {"1.9", "1.10", true},
        {"", "0.1", true},
        {"1.0", "", false},
        // Twenty digits joined: the catalogue's number is the larger one, not a wrapped one.
        {"5.0.20230101.123456789", "2.3.20231015.1234567890", true},
        {"2.3.20231015.1234567890", "5.0.20230101.123456789", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNewerFirmware(c.Device, c.Catalogue), c.Newer)
            << c.Device << " against " << c.Catalogue;
    }
}

}  // namespace
