// How often a search sends its request: three times on a clean network, more while the
// replies show that datagrams are being lost, never without end.
#include "discovery/repeat_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace std::chrono_literals;
using TimePoint = RepeatSchedule::TimePoint;

// Runs a schedule against `devices` devices of which each request and each reply is lost
// with `loss`; the number of requests sent and whether every device answered once.
struct SearchRun {
    int Sends = 0;
    bool AllFound = false;
};

SearchRun Simulate(int devices, double loss, int duplicates, unsigned seed) {
    std::mt19937 random(seed);
    std::bernoulli_distribution lost(loss);
    const TimePoint start{};
    RepeatSchedule schedule(start);
    std::vector<bool> found(static_cast<size_t>(devices), false);
    for (std::optional<TimePoint> next = schedule.NextSend(); next; next = schedule.NextSend()) {
        schedule.Sent(*next);
        for (int d = 0; d < devices; ++d) {
            if (lost(random)) continue;  // the request
            for (int copy = 0; copy < duplicates; ++copy) {
                if (lost(random)) continue;  // the reply
                schedule.Replied("10.0.0." + std::to_string(d));
                found[static_cast<size_t>(d)] = true;
            }
        }
    }
    SearchRun run;
    run.Sends = schedule.Sends();
    run.AllFound = std::find(found.begin(), found.end(), false) == found.end();
    return run;
}

TEST(RepeatScheduleTest, SendsAsOftenAsTheLossesCallFor) {
    struct Case {
        const char* Name;
        int Devices;
        double Loss;
        int Duplicates;
        int FewestSends;
        int MostSends;
    };
    const Case cases[] = {
        {"clean network", 250, 0.0, 1, 3, 3},
        {"clean network, a device answering twice", 5, 0.0, 2, 3, 3},
        {"nothing answers", 0, 0.0, 1, 3, 3},
        {"1 % loss", 2000, 0.01, 1, 4, 8},
        {"30 % loss", 10, 0.3, 1, 10, RepeatSchedule::kMaxSends},
        // Duplicates must not hide the losses of the other requests.
        {"30 % loss, every reply sent twice", 10, 0.3, 2, 6, RepeatSchedule::kMaxSends},
        {"everything lost", 10, 1.0, 1, 3, 3},
    };
    for (const Case& c : cases) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            const SearchRun run = Simulate(c.Devices, c.Loss, c.Duplicates, seed);
            EXPECT_GE(run.Sends, c.FewestSends) << c.Name << ", seed " << seed;
            EXPECT_LE(run.Sends, c.MostSends) << c.Name << ", seed " << seed;
        }
    }
}

TEST(RepeatScheduleTest, ThirtyPercentLossFindsEveryDeviceAlmostAlways) {
    int missed = 0;
    for (unsigned seed = 1; seed <= 500; ++seed)
        missed += Simulate(10, 0.3, 1, seed).AllFound ? 0 : 1;
    EXPECT_LE(missed, 2) << "of 500 searches of 10 devices";
}

TEST(RepeatScheduleTest, RequestsAreSpacedAndTheFirstIsDueAtOnce) {
    const TimePoint start = TimePoint{} + 5s;
    RepeatSchedule schedule(start);
    ASSERT_EQ(schedule.NextSend(), start);
    schedule.Sent(start + 3ms);
    EXPECT_EQ(schedule.NextSend(), start + 3ms + RepeatSchedule::kSpacing);
    schedule.Replied("a");
    // The last request's replies may still be on their way: no loss is read from it.
    EXPECT_EQ(schedule.EstimatedLoss(), 0.0);
    schedule.Sent(start + 300ms);
    EXPECT_EQ(schedule.EstimatedLoss(), 0.0);
    schedule.Sent(start + 600ms);
    EXPECT_DOUBLE_EQ(schedule.EstimatedLoss(), 0.5);  // "a" answered one of two
    EXPECT_TRUE(schedule.NextSend().has_value());
}

}  // namespace
