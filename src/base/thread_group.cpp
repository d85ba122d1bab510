#include "base/thread_group.h"

#include <system_error>
#include <utility>

#include "base/trace.h"

ThreadGroup::ThreadGroup(size_t most) : most_(most == 0 ? 1 : most) {}

ThreadGroup::~ThreadGroup() { JoinAll(true); }

bool ThreadGroup::Start(Task task) {
    Take(false).clear();  // joins the ended ones, outside the lock
    std::lock_guard lock(lock_);
    waiting_.push_back(std::move(task));
    if (working_ >= most_) return true;
    auto member = std::make_unique<Member>();
    Member* self = member.get();
    try {
        // Made under the lock: the thread cannot take a task or end before its jthread is
        // stored.
        member->Thread = std::jthread([this, self](std::stop_token token) { Work(*self, token); });
    } catch (const std::system_error& e) {
        Trace("no thread for a task: %s", e.what());
        // A thread of the group will take it; without one it is dropped.
        if (working_ > 0) return true;
        waiting_.pop_back();
        return false;
    }
    ++working_;
    members_.push_back(std::move(member));
    return true;
}

void ThreadGroup::Work(Member& self, std::stop_token token) {
    for (;;) {
        Task task;
        {
            std::lock_guard lock(lock_);
            if (waiting_.empty()) {
                self.Ended = true;
                --working_;
                return;
            }
            task = std::move(waiting_.front());
            waiting_.pop_front();
        }
        task(token);
    }
}

void ThreadGroup::Reap() { Take(false).clear(); }

void ThreadGroup::JoinAll(bool stop) {
    Members all = Take(true);
    if (stop) {
        for (auto& member : all) member->Thread.request_stop();
    }
    all.clear();
}

ThreadGroup::Members ThreadGroup::Take(bool all) {
    Members taken;
    std::lock_guard lock(lock_);
    for (auto it = members_.begin(); it != members_.end();) {
        auto next = std::next(it);
        if (all || (*it)->Ended) taken.splice(taken.end(), members_, it);
        it = next;
    }
    return taken;
}
