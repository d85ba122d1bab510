#include "base/clock.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>

namespace {

using std::chrono::steady_clock;

TEST(ClockTest, ScaledWaitsPassFasterAndTimeFollows) {
    Clock fast(1000.0);
    auto start = steady_clock::now();
    int64_t before = fast.NowMs();
    fast.SleepMs(10'000);  // ten scaled seconds
    auto real = steady_clock::now() - start;
    EXPECT_LT(real, std::chrono::milliseconds(500));
    EXPECT_GE(fast.NowMs() - before, 10'000);
}

// Planned times and windows are moments of the user's day at every scale; only the
// deliberate waits inside an estimate shrink.
TEST(ClockTest, UnixSecondsAreTheRealTimeAtEveryScaleAndWaitsShrinkOnIt) {
    for (double scale : {1.0, 30.0}) {
        Clock clock(scale);
        auto real = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
        EXPECT_LE(std::abs(clock.UnixSeconds() - real), 1) << scale;
    }
    EXPECT_EQ(Clock(1.0).WallSecondsFor(360), 360);
    EXPECT_EQ(Clock(30.0).WallSecondsFor(360), 12);
    EXPECT_EQ(Clock(30.0).WallSecondsFor(361), 13);  // rounded up: never too hopeful
    EXPECT_EQ(Clock(30.0).WallSecondsFor(-5), 0);
}

TEST(ClockTest, StopEndsAWaitEarly) {
    Clock clock;
    std::stop_source source;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.request_stop();
    });
    auto start = steady_clock::now();
    EXPECT_FALSE(clock.SleepMs(60'000, source.get_token()));
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
    stopper.join();
    EXPECT_TRUE(clock.SleepMs(1, std::stop_token()));
}

}  // namespace
