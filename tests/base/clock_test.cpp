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

TEST(ClockTest, UnixSecondsStartAtTheRealTime) {
    Clock clock;
    auto real = std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
    EXPECT_LE(std::abs(clock.UnixSeconds() - real), 1);
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
