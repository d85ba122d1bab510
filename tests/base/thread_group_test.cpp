#include "base/thread_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A flood of tasks never runs more threads than the group allows, and every task runs,
// in its turn; without a bound, tasks that need each other all run at once.
TEST(ThreadGroupTest, TasksBeyondTheBoundWaitTheirTurnAndAllRun) {
    struct Case {
        size_t Most;
        int Tasks;
    };
    for (const Case c : {Case{4, 200}, Case{1, 20}}) {
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        std::atomic<int> done{0};
        {
            ThreadGroup group(c.Most);
            for (int i = 0; i < c.Tasks; ++i) {
                ASSERT_TRUE(group.Start([&](std::stop_token) {
                    const int now = ++running;
                    int seen = most.load();
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    std::this_thread::sleep_for(1ms);
                    --running;
                    ++done;
                }));
            }
            group.JoinAll();
            EXPECT_EQ(done.load(), c.Tasks) << c.Most;
        }
        EXPECT_LE(most.load(), static_cast<int>(c.Most));
        EXPECT_GE(most.load(), 1);
    }

    // Eight tasks that each wait for all eight: only threads of their own let them end.
    ThreadGroup unbounded;
    std::barrier meeting(8);
    std::atomic<int> met{0};
    for (int i = 0; i < 8; ++i) {
        unbounded.Start([&](std::stop_token) {
            meeting.arrive_and_wait();
            ++met;
        });
    }
    unbounded.JoinAll();
    EXPECT_EQ(met.load(), 8);
}

}  // namespace
