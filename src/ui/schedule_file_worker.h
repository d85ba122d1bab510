#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <functional>
#include <utility>

// Runs the main window's work on the schedule file (saves, the scheduler's start, the
// merges while another program runs the schedule) on a thread of its own, one job
// after the other in the order given: that work waits for the file's lock, which
// another program may hold for as long as it likes, and for the disk. The user-interface
// thread never waits for it; each outcome comes back to it as a queued call.
class CScheduleFileWorker {
public:
    CScheduleFileWorker() { pool_.setMaxThreadCount(1); }
    // Waits for the work given so far.
    ~CScheduleFileWorker() { pool_.waitForDone(); }
    CScheduleFileWorker(const CScheduleFileWorker&) = delete;
    CScheduleFileWorker& operator=(const CScheduleFileWorker&) = delete;

    // Runs `work` here, then `then` with its result on `context`'s thread. `context` must
    // outlive the work (the owner waits for it before its objects go).
    template <typename Result>
    void Run(std::function<Result()> work, QObject* context, std::function<void(Result)> then) {
        pool_.start([work = std::move(work), context, then = std::move(then)]() mutable {
            Result result = work();
            if (!then) return;
            QMetaObject::invokeMethod(
                context,
                [then = std::move(then), result = std::move(result)]() mutable { then(result); },
                Qt::QueuedConnection);
        });
    }

    // Waits until the work given so far has ended (its outcomes may still be on their
    // way to their threads).
    void WaitForDone() { pool_.waitForDone(); }

private:
    QThreadPool pool_;
};
