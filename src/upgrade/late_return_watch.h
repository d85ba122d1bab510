#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "pipeline/return_watch.h"
#include "pipeline/upgrade_job.h"
#include "upgrade/in_flight_journal.h"

// Keeps looking for the devices whose upgrade ended as not seen again (-10), so that a
// device that comes back with its new firmware after the wait is not left called a
// failure. A cheap look every kLookEveryMs of the Clock (the search, then one request
// over HTTP, else HTTPS; an ONVIF camera's device service) for as long as the watch was told; a
// device that restarts and comes back (ReturnWatch) and names no old firmware it should have left
// (as the workers judge it) is reported once through `returned`, on the watch's own thread.
class CLateReturnWatch {
public:
    static constexpr int64_t kLookEveryMs = 30000;
    // The request of one look; a device that is up answers at once.
    static constexpr int kAskTimeoutMs = 1000;

    using Returned = std::function<void(const std::string& deviceId, const std::string& version)>;

    // Each device is watched for `watchMs` of `clock` after its failure. A device the
    // watch is done with (back, or its time is up) leaves `journal`, when given; one still
    // watched at Stop stays there, for the next start to look at. The clock and the
    // journal must outlive this object.
    CLateReturnWatch(const Clock& clock, int64_t watchMs, Returned returned,
                     const CInFlightJournal* journal = nullptr);
    // Stops and waits for the watch's thread.
    ~CLateReturnWatch();
    CLateReturnWatch(const CLateReturnWatch&) = delete;
    CLateReturnWatch& operator=(const CLateReturnWatch&) = delete;

    // Starts watching the device of `job`, which has just ended with -10: its address,
    // credentials, the version it ran before and its manager (which looks through the
    // search) are copied. A device watched already is watched afresh.
    void Watch(const UpgradeJob& job);
    // The device is no longer watched (a new upgrade of it has started).
    void Forget(const std::string& deviceId);
    // The search found the device again, at `address`.
    void SeenAgain(const std::string& deviceId, const JobAddress& address);

    // Devices still watched.
    int Watching() const;

    // Ends the watch at once; nothing more is reported, and the devices still watched
    // stay in the journal.
    void Stop();

private:
    struct Watched {
        UpgradeJob Job;
        ReturnWatch Watch;
        int64_t UntilMs = 0;
        bool Done = false;  // returned, given up or forgotten: removed by the thread

        explicit Watched(std::string versionBefore) : Watch(std::move(versionBefore)) {}
    };

    void Run(std::stop_token stop);
    // One look at the device; true when it is done with (returned or given up).
    bool Look(Watched& device, std::stop_token stop);
    // The watch is done with the device: it is no longer in flight.
    void Landed(const std::string& deviceId) const;

    const Clock& clock_;
    const int64_t watchMs_;
    const Returned returned_;
    const CInFlightJournal* const journal_;
    mutable std::mutex lock_;
    // Entries stay in place while the thread looks at them; only the thread removes them.
    std::list<std::unique_ptr<Watched>> devices_;
    std::jthread thread_;
};
