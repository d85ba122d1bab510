#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "base/clock.h"
#include "device/ip_cam_info.h"
#include "pipeline/return_watch.h"
#include "pipeline/upgrade_job.h"

class CSearch;

// How the pipeline waits for a device after an image: plain data, chosen by the family
// for an upgrade now and by the path for a scheduled one.
struct ReturnPlan {
    // Seconds passed before the first look, reported every second.
    int PauseSeconds = 0;
    // Looking stops this long after the pause.
    int WindowSeconds = 0;
    // The device itself is asked every this many looks (a look a second); the search
    // looks every time.
    int AskEveryLooks = 1;
    // Once back, it is given this long to start its services.
    int SettleSeconds = 0;
    // The settle passes even when the device was not seen back (it may still be
    // writing its flash: no further image is sent before it has passed).
    bool SettleAlways = false;
    // A countdown of WindowSeconds asked on the maker NVR's schedule (every 30 seconds
    // from 240 left, every 10 from 60), each request taking its seconds off the
    // countdown; cut to SettleSeconds once the device is back.
    bool NvrCountdown = false;
};

// What a family's upgrade looks like to the pipeline when upgraded now.
struct FamilyTraits {
    ReturnPlan Wait;
    // Every queued image is installed in one run, each with its own return; otherwise
    // the front image only.
    bool InstallsEveryImage = false;
    // The stage a refused preparation is reported at.
    int PrepareFailStage = 1;
    // A time budget for the whole job, counted down across its steps (seconds per
    // image, of which the upload takes UploadSeconds; a margin for one image and for
    // several; after several images, ExtraAfterSeveral more before the job ends). Zero:
    // the wait counts down on its own.
    int BudgetPerImage = 0;
    int BudgetUploadSeconds = 0;
    int MarginOneImage = 0;
    int MarginSeveralImages = 0;
    int ExtraAfterSeveral = 0;
    // A device back with the version it ran before failed even when the image was
    // picked by hand (else only when the images came from the firmware store).
    bool SameVersionFails = false;
    // A device back that names no version has not proved its upgrade: the last look's
    // code stands.
    bool NeedsVersionAfter = false;
    // The device names how long it will be away once its upgrade has begun; until then
    // this long is assumed. Its wait is then the family's on every path, with the
    // named time added to the window. Zero: the device names nothing.
    int AssumedDownSeconds = 0;
};

// What the device asked for once prepared; zeros where it asked nothing.
struct DeviceTiming {
    int64_t UploadDelayMs = 0;  // to wait before the image goes
    int64_t DownTimeMs = 0;     // how long it expects to be away after the image
};

// One device's upgrade, the steps every family has. Used by the job's worker thread;
// Upload by the upload thread the worker starts and joins.
class IUpgradeSession {
public:
    virtual ~IUpgradeSession() = default;

    // The log-in and whatever the device must be told before an image (the maker's
    // beforeupgrade.cgi, ONVIF's StartFirmwareUpgrade). 0, or the code that ends the job.
    virtual int Prepare() = 0;
    // The device at the job's address names `mac` (an answer after a log-in); its
    // firmware version goes to `version`. 0; -1 when it names another or none; the
    // request's code when it could not be asked.
    virtual int CheckMac(const std::string& mac, std::string& version) = 0;
    // After Prepare: what the device asked for, and the version it named then (empty:
    // the one it was listed with).
    virtual DeviceTiming Timing() const { return {}; }
    virtual std::string VersionBefore() const { return {}; }
    // Takes the job's front image off its queue and sends it, with job.ImageSize set
    // before it sends and job.BytesSent after every block. The upload's code; -6 when
    // stopped.
    virtual int UploadFront(std::stop_token stop) = 0;
    // One look at the device at the job's address, noted in `watch` (an answer naming
    // another MAC is no answer), within about `timeoutMs`. `attempt` counts from 0 to
    // Attempts() - 1 (the maker's devices: over HTTP, then HTTPS); true when a device
    // that may be ours answered.
    virtual int Attempts() const { return 1; }
    virtual bool Ask(int attempt, int timeoutMs, ReturnWatch& watch) = 0;
    // The code of the last Ask.
    virtual int LastAsk() const = 0;
    // The job's address changed (the device was found again elsewhere).
    virtual void Follow(const JobAddress&) {}
};

// Which images a device of the family takes, and what the dispatch tells the upgrade
// of its model.
// (Whether it takes the firmware store's images or the cameras' image is its protocol's
// fact: FactsOf.)
struct ImageChoice {
    // The final code of a device that was given no image.
    int NoImageCode = 0;
    // The job carries the model table's flag: the form upload of every image.
    uint8_t SingleModel = 0;
};

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

// A device the technician typed in by its address, to be asked who it is with the
// credentials given.
struct AddressAsk {
    std::string Scheme;  // as typed
    std::string Host;    // an IPv6 literal in square brackets
    int Port = 0;
    std::string User;
    std::string Password;
    // The connect time-out of a first request: a range scan asks shorter, since most of
    // its addresses hold no device.
    int ConnectTimeoutMs = 2000;
    // Every request ends by then, and as soon as Cancelled (which may be empty) says so.
    std::chrono::steady_clock::time_point Deadline;
    std::function<bool()> Cancelled;
    // An earlier family made no connection at Host:Port: asking there again would only
    // wait as long once more.
    bool PortSilent = false;
};

// A family of devices: how they are found, how their log-in is checked, which images
// they take, how they are upgraded.
class IDeviceFamily {
public:
    virtual ~IDeviceFamily() = default;

    virtual const char* Name() const = 0;
    // The family finds and upgrades the devices of this protocol.
    virtual bool Takes(DeviceProtocol protocol) const = 0;
    // Its search engine, not yet started (the listeners and adapters are the caller's).
    virtual std::unique_ptr<CSearch> MakeSearch() const = 0;
    // The check of the record's credentials, blocking: fills in what the device named
    // after the log-in (LoginOk, FirmwareVersion, MacAddress and what else the family
    // learns) and clears NvrLoginPending.
    virtual CheckOutcome CheckLogin(CIPCamInfo& record) const = 0;
    // Asks the device at the address by the family's own requests, logged in with the
    // ask's credentials (blocking). 0 with `record` filled as a listed device keyed by
    // its MAC address; -304 when it refused the credentials; -6 when cancelled; -8 when
    // no connection could be made at the ask's port; another code when nothing of the
    // family answered.
    virtual int AskAtAddress(const AddressAsk& ask, CIPCamInfo& record) const = 0;
    // The address a browser opens for the device's own pages, logged in where it can be.
    virtual std::string WebPage(const CIPCamInfo& record) const = 0;
    // The firmware version the device at the job's address names when a log-in there
    // names the job's MAC, every way it may answer; empty when it does not (one look,
    // each request within about `timeoutMs`).
    virtual std::string VersionNamedBy(const UpgradeJob& job, int timeoutMs) const = 0;
    // The images a device of this model takes.
    virtual ImageChoice Images(const std::string& model) const = 0;
    // The traits of the job's model (the model table's row).
    virtual FamilyTraits Traits(const UpgradeJob& job) const = 0;
    // The session for the job's device, on `clock`.
    virtual std::unique_ptr<IUpgradeSession> Open(UpgradeJob& job, const Clock& clock) const = 0;
};
