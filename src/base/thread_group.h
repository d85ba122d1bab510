#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

// Threads started for tasks that end on their own. Each ended thread is joined by a later
// Start, Reap or by JoinAll, never by itself, so a long series of tasks leaves none
// behind. Safe from any thread; JoinAll never from one of the group's own.
class ThreadGroup {
public:
    ThreadGroup() = default;
    // Asks every thread to stop and waits for each.
    ~ThreadGroup();
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    // Joins the threads that have ended, then runs `task` on a thread of its own. False,
    // with nothing run, when the system makes no more threads.
    bool Start(std::function<void(std::stop_token)> task);
    // Joins the threads that have ended.
    void Reap();
    // Asks every thread to stop (their stop tokens) without waiting.
    void RequestStop();
    // Waits for every thread (asked to stop first when `stop`).
    void JoinAll(bool stop = false);

private:
    struct Member {
        std::atomic<bool> Ended{false};
        std::jthread Thread;
    };
    using Members = std::list<std::unique_ptr<Member>>;

    // Moves the ended members (every one: `all`) out, under the lock.
    Members Take(bool all);

    std::mutex lock_;  // guards members_ and each member's Thread while it is made
    Members members_;
};
