// When a device that took an image counts as back: only after it was seen away, or
// when it names a new version.
#include "pipeline/return_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
using TimePoint = ReturnWatch::TimePoint;

// One thing seen of the device: an HTTP answer naming a version ("-" for none), an
// unanswered look ("away"), or a search report ("report"), each at a time in seconds.
struct Sight {
    int Second;
    const char* What;
};

struct Case {
    const char* Name;
    const char* Before;
    std::vector<Sight> Sights;
    bool Returned;
    const char* After;
};

void Replay(ReturnWatch& watch, const std::vector<Sight>& sights) {
    const TimePoint start{};
    for (const Sight& s : sights) {
        const TimePoint at = start + std::chrono::seconds(s.Second);
        const std::string what = s.What;
        if (what == "away") {
            watch.Unanswered();
        } else if (what == "report") {
            watch.Reported(at);
        } else if (what == "look") {
        } else {
            watch.Answered(what == "-" ? std::string() : what);
        }
        watch.Looked(at);
    }
}

TEST(ReturnWatchTest, OnlyARestartAndReturnCounts) {
    const std::vector<Case> cases = {
        {"still up, answering with its old version", "1.0", {{0, "1.0"}, {30, "1.0"}}, false, ""},
        {"still up, reported by every search",
         "1.0",
         {{0, "report"}, {2, "report"}, {4, "report"}, {6, "1.0"}},
         false,
         ""},
        {"away, then answers", "1.0", {{0, "1.0"}, {30, "away"}, {60, "1.0"}}, true, "1.0"},
        {"away, then reported by the search", "1.0", {{0, "away"}, {20, "report"}}, true, ""},
        {"a quick restart names a new version", "1.0", {{0, "2.0"}}, true, "2.0"},
        {"silent search after reports means away",
         "1.0",
         {{0, "report"}, {2, "report"}, {8, "look"}, {9, "1.0"}},
         true,
         "1.0"},
        {"a search that never reported proves no absence",
         "1.0",
         {{0, "look"}, {60, "1.0"}},
         false,
         ""},
        {"an unknown old version: only absence counts", "", {{0, "2.0"}}, false, ""},
        {"a refusal of the credentials after the restart",
         "1.0",
         {{0, "away"}, {9, "-"}},
         true,
         ""},
        {"a later answer names the version",
         "1.0",
         {{0, "away"}, {9, "-"}, {12, "1.1"}},
         true,
         "1.1"},
    };
    for (const Case& c : cases) {
        ReturnWatch watch(c.Before);
        Replay(watch, c.Sights);
        EXPECT_EQ(watch.Returned(), c.Returned) << c.Name;
        EXPECT_EQ(watch.VersionAfter(), c.After) << c.Name;
    }
}

// A device whose DHCP lease changed at its restart: a report proves no move; only a
// device that answered as ours elsewhere does.
TEST(ReturnWatchTest, ADeviceReportedAtAnotherAddressIsBackThere) {
    struct ReportCase {
        const char* Name;
        std::vector<int> Reports;  // seconds
        bool Returned;
    };
    const ReportCase cases[] = {
        {"still reported", {0, 2}, false},
        {"away, then reported again", {0, 9}, true},
    };
    for (const ReportCase& c : cases) {
        ReturnWatch watch("1.0");
        for (int second : c.Reports) {
            const TimePoint at = TimePoint{} + std::chrono::seconds(second);
            watch.Looked(at);  // silent for 9 s: away
            watch.Reported(at);
        }
        EXPECT_EQ(watch.Returned(), c.Returned) << c.Name;
        EXPECT_EQ(watch.NewAddress(), "") << c.Name;
    }
    // An answer at a new address by a device naming the same MAC is a return there.
    ReturnWatch moved("1.0");
    moved.SeenElsewhere("10.0.0.77");
    moved.Answered("1.0");
    EXPECT_TRUE(moved.Returned());
    EXPECT_EQ(moved.VersionAfter(), "1.0");
    EXPECT_EQ(moved.NewAddress(), "10.0.0.77");
}

TEST(ReturnWatchTest, MacAddressesCompareWhateverTheirSpelling) {
    struct MacCase {
        const char* A;
        const char* B;
        bool Same;
    };
    const MacCase cases[] = {
        {"00:1C:A1:00:00:04", "00:1c:a1:00:00:04", true},
        {"00-1C-A1-00-00-04", "001CA1000004", true},
        {"001c.a100.0004", "00:1C:A1:00:00:04", true},
        {"00:1C:A1:00:00:04", "00:1C:A1:00:00:05", false},
        {"", "", false},
        {"GOOD", "GOOD", false},  // a search key, not a MAC
        {"00:1C:A1:00:00:04:00", "00:1C:A1:00:00:04:00", false},
        {"00:1C:A1:00:00:0", "00:1C:A1:00:00:0", false},
        // Placeholders many devices share are no identity.
        {"00:00:00:00:00:00", "00:00:00:00:00:00", false},
        {"FF:FF:FF:FF:FF:FF", "ff:ff:ff:ff:ff:ff", false},
    };
    for (const MacCase& c : cases) EXPECT_EQ(SameMac(c.A, c.B), c.Same) << c.A << " " << c.B;
    EXPECT_EQ(MacKey("00:1c:a1:00:00:04"), "001CA1000004");
    // Only two real, different MACs tell another device.
    EXPECT_TRUE(NamesAnotherMac("00:1C:A1:00:00:05", "00:1C:A1:00:00:04"));
    EXPECT_FALSE(NamesAnotherMac("00:1c:a1:00:00:04", "00:1C:A1:00:00:04"));
    EXPECT_FALSE(NamesAnotherMac("", "00:1C:A1:00:00:04"));
    EXPECT_FALSE(NamesAnotherMac("00:1C:A1:00:00:05", "GOOD"));
    EXPECT_FALSE(NamesAnotherMac("00:00:00:00:00:00", "00:1C:A1:00:00:04"));
}

}  // namespace
