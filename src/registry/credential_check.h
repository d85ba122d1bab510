#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "base/thread_group.h"
#include "device/ip_cam_info.h"
#include "pipeline/device_family.h"
#include "registry/camera_table.h"

// Empty credentials of a record become the device's defaults, "admin" / "vqmtz".
void ApplyDefaultCredentials(CIPCamInfo& record);

// The check itself, blocking: empty credentials become "admin" / "vqmtz", then the
// device's family checks them (IDeviceFamily::CheckLogin).
CheckOutcome CheckCredentials(CIPCamInfo& record);

// Told when a check has ended, on the check's thread. By then the device table holds
// the check's results and the record's CheckDone is 1.
class ICredentialCheckObserver {
public:
    virtual ~ICredentialCheckObserver() = default;
    virtual void CredentialCheckEnded(const std::string& deviceId, CheckOutcome outcome) = 0;
};

// Runs credential checks of the devices in the device table, each on a short-lived
// thread of its own. The table and the observer must outlive this object, whose
// destructor waits for the checks still running (each is bounded by its time-outs).
//
// Start only queues the check: a launcher thread starts the check threads and joins the
// ended ones, so that the caller (the user-interface thread, listing thousands of
// devices) never pays for making or ending a thread.
class CCredentialChecks {
public:
    CCredentialChecks(CCameraTable& table, ICredentialCheckObserver& observer);
    ~CCredentialChecks();
    CCredentialChecks(const CCredentialChecks&) = delete;
    CCredentialChecks& operator=(const CCredentialChecks&) = delete;

    // Starts a check of a listed device with the credentials its record holds and sets
    // its CheckDone to 0. False when the device is not listed or is being checked (a
    // check that has stored its results no longer counts).
    bool Start(const std::string& key);

    // Waits until every check started so far has ended.
    void WaitAll();

private:
    void Run(const std::string& key);
    // The launcher: starts the queued checks, joins the ended ones.
    void Launch(std::stop_token stop);

    CCameraTable& table_;
    ICredentialCheckObserver& observer_;
    std::mutex lock_;  // guards the members below up to launcher_
    std::condition_variable_any changed_;
    std::deque<std::string> queued_;
    // Keys queued or being checked; twice while a check that has stored its results
    // tells of them and the next one runs.
    std::multiset<std::string> active_;
    int ended_ = 0;  // checks ended and not yet joined
    // A few dozen checks at once: a flood of replies from one LAN makes no more threads,
    // and the rest wait their turn.
    ThreadGroup checks_{32};
    std::jthread launcher_;  // last: stops before the rest goes
};
