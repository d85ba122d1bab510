#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

// Threads for tasks that end on their own, at most `most` at once: a task started beyond
// that waits its turn, in the order started, and runs on a thread whose task has ended.
// Each ended thread is joined by a later Start, Reap or JoinAll, never by itself, so a
// long series of tasks leaves none behind. Safe from any thread; JoinAll never from one
// of the group's own.
class ThreadGroup {
public:
    using Task = std::function<void(std::stop_token)>;

    explicit ThreadGroup(size_t most = std::numeric_limits<size_t>::max());
    // Asks every thread to stop and waits for each.
    ~ThreadGroup();
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    // Joins the threads that have ended, then runs `task` on a thread of the group, now or
    // in its turn. False, with the task dropped, when the system makes no thread and none
    // of the group's runs to take it.
    bool Start(Task task);
    // Joins the threads that have ended.
    void Reap();
    // Waits for every thread, each of which first runs the tasks still waiting (asked to
    // stop first when `stop`: their stop tokens say so).
    void JoinAll(bool stop = false);

private:
    struct Member {
        bool Ended = false;  // under lock_
        std::jthread Thread;
    };
    using Members = std::list<std::unique_ptr<Member>>;

    // A thread's body: the tasks waiting, one after another, until none is left.
    void Work(Member& self, std::stop_token token);
    // Moves the ended members (every one: `all`) out, under the lock.
    Members Take(bool all);

    const size_t most_;
    std::mutex lock_;  // guards the members below and each member's Ended and Thread
    Members members_;
    std::deque<Task> waiting_;
    size_t working_ = 0;  // threads that have not yet ended
};
