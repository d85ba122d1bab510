#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"

class IDeviceFamily;

// What a job's steps report to and ask of whoever runs it: the upgrade manager, the
// schedule runner. Called on the job's worker thread.
class IJobHost {
public:
    virtual ~IJobHost() = default;
    // A progress report (stage, seconds left, percent, result code).
    virtual void Report(const std::string& deviceId, int stage, int seconds, int percent,
                        int code) = 0;
    // The device must be found again: it is unlisted, and the job forgets it was seen.
    virtual void ForgetDevice(const std::string& deviceId) = 0;
    // Looks for the device through the search; where it is found, the job is told
    // (UpgradeJob::MarkSeenAgain).
    virtual void ProbeDevice(const std::string& deviceId) = 0;
    // An upload of `bytes` succeeded in `ms` of the Clock.
    virtual void UploadTimed(int64_t bytes, int64_t ms) = 0;
    // While an image goes out, every second and once at its end: its size (0 while
    // unknown) and the bytes sent.
    virtual void Uploading(int64_t, int64_t) {}
    // The upload of an image to the device has ended with `code`.
    virtual void UploadEnded(const std::string&, int) {}
};

// Where a job reaches its device: "http" or "https", the address and the port for
// that scheme.
struct JobAddress {
    std::string Scheme;
    std::string Host;
    int32_t Port = 0;
};

// One device's upgrade in one run: made by the manager's StartJob, run by one worker
// thread and the upload threads it starts, freed when the worker ends.
//
// Most fields are set before the worker starts and only read afterwards. The ones
// other threads touch while the job runs are safe to share: the upload thread writes
// Result, ImageSize and BytesSent while the worker reads them once a second, and the
// manager's DeviceSeenAgain replaces the address and sets SeenAgain from a search
// thread while the worker probes the device. ImageQueue belongs to the worker and, in
// turn, to the upload thread it starts and joins, never to both at once.
class UpgradeJob {
public:
    UpgradeJob() = default;
    UpgradeJob(const UpgradeJob&) = delete;
    UpgradeJob& operator=(const UpgradeJob&) = delete;

    // Scheme, Host and Port as one consistent copy.
    JobAddress Address() const;
    void SetAddress(JobAddress address);
    // The device was found again, perhaps at another address: both change together, so
    // a worker that sees SeenAgain also sees the new address.
    void MarkSeenAgain(JobAddress address);

    // Takes the front image path off the queue; empty when none is left.
    std::string TakeFrontImage();

    std::string DeviceId;
    std::string UserName;
    std::string Password;
    std::deque<std::string> ImageQueue;  // full local paths, installed front first
    uint8_t Reserved = 0;
    std::atomic<uint8_t> SeenAgain{0};
    IJobHost* Manager = nullptr;
    const IDeviceFamily* Family = nullptr;  // how the device is upgraded
    std::string Model;                      // the model as listed
    std::atomic<int32_t> Result{0};
    uint8_t RunFlag = 0;
    uint8_t SingleModel = 0;
    std::atomic<int64_t> ImageSize{0};  // written by the cgi_main upload before it sends
    std::atomic<int64_t> BytesSent{0};  // image bytes sent so far, after every block
    std::string FirmwareBefore;         // the version the device ran; empty when unknown
    uint8_t ImagesFromStore = 0;        // the images' versions are known (firmware store)
    std::string FirmwareAfter;          // the worker's: the version read after the return
    std::string Mac;                    // the MAC the device names; empty when unknown
    DeviceProtocol Protocol = DeviceProtocol::Maker;
    std::vector<std::string> ServiceAddresses;  // ONVIF: the device service's addresses

private:
    mutable std::mutex addressLock_;
    JobAddress address_;
};
