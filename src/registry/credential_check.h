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

#include "device/ip_cam_info.h"
#include "registry/camera_table.h"

// How a device's credential check ended. The upgrade page shows each on the device's
// row: Passed as the firmware version (or "Invalid Username and Password" when the
// device named none); Failed as "Connect Error"; NvrLoginFailed as "Connect Error" with
// the password cell "Failed"; Unreachable as "Connect Error" with the prompt "Cannot
// connect to the server.".
enum class CheckOutcome {
    Passed,
    Failed,          // the device refused the credentials
    NvrLoginFailed,  // the NVR log-in that a newly typed password asks for was refused
    Unreachable,     // the device answered neither over HTTP nor over HTTPS
};

// Empty credentials of a record become the device's defaults, "admin" / "vqmtz".
void ApplyDefaultCredentials(CIPCamInfo& record);

// The check itself, blocking: empty credentials become "admin" / "vqmtz"; the NVR log-in
// form sets LoginOk; the system list (HTTP, then HTTPS, at the record's port) gives
// FirmwareVersion and MacAddress; when NvrLoginPending is set it is cleared and the NVR
// log-in decides. A device that answers neither list request is unreachable; one that
// refuses the credentials is not. Changes only UserName, Password, LoginOk,
// FirmwareVersion, MacAddress and NvrLoginPending of `record`. An ONVIF device is asked
// through its device service instead (HTTP Digest or a UsernameToken), which also gives
// its maker, model, serial number and the address that answered.
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
    struct Check {
        std::string Key;
        bool Ended = false;  // under lock_
        std::jthread Thread;
    };
    using CheckList = std::list<std::unique_ptr<Check>>;

    void Run(Check& check);
    // The launcher: starts the queued checks, joins and frees the ended ones.
    void Launch(std::stop_token stop);
    // Moves the ended checks (all, with `all`) out of checks_; called under lock_.
    CheckList TakeEnded(bool all);

    CCameraTable& table_;
    ICredentialCheckObserver& observer_;
    std::mutex lock_;  // guards the members below up to launcher_
    std::condition_variable_any changed_;
    std::deque<std::string> queued_;
    // Keys queued or being checked; twice while a check that has stored its results
    // tells of them and the next one runs.
    std::multiset<std::string> active_;
    CheckList checks_;
    int ended_ = 0;          // checks ended and not yet joined
    std::jthread launcher_;  // last: stops before the rest goes
};
