#include "base/thread_group.h"

#include <system_error>

#include "base/trace.h"

ThreadGroup::~ThreadGroup() { JoinAll(true); }

bool ThreadGroup::Start(std::function<void(std::stop_token)> task) {
    Members ended = Take(false);
    ended.clear();  // joins each, outside the lock
    auto member = std::make_unique<Member>();
    Member* self = member.get();
    std::lock_guard lock(lock_);
    try {
        // Made under the lock: a thread that ends at once is not taken before its
        // jthread is stored.
        member->Thread = std::jthread([self, task = std::move(task)](std::stop_token token) {
            task(token);
            self->Ended = true;
        });
    } catch (const std::system_error& e) {
        Trace("no thread for a task: %s", e.what());
        return false;
    }
    members_.push_back(std::move(member));
    return true;
}

void ThreadGroup::Reap() { Take(false).clear(); }

void ThreadGroup::RequestStop() {
    std::lock_guard lock(lock_);
    for (auto& member : members_) member->Thread.request_stop();
}

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
        if (all || (*it)->Ended.load()) taken.splice(taken.end(), members_, it);
        it = next;
    }
    return taken;
}
