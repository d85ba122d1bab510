#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "device/mac_key.h"

// Decides whether a device that took an image has really restarted and come back.
//
// A device goes on answering its web pages and the search for a while after it took
// an image (it is writing its flash) and only then restarts; answers from that time
// prove nothing. The device counts as back once it has been seen away (a look over
// HTTP unanswered, or the search silent for kSearchSilence after it had been
// reporting the device) and then answers or reports itself again, or once it answers
// with a firmware version other than the one it ran before (a restart quick enough to
// fall between two looks).
//
// A device may also come back at another address than the one it was left at: cameras
// often take their address by DHCP, and the lease can change at the restart. A device
// naming the same MAC seen at another address has restarted (its address changes only
// then) and counts as back at once, at that address (SeenElsewhere).
//
// Used by one thread, the worker that waits for the device.
class ReturnWatch {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // Real time, not the Clock's: the search's pace is the network's. A search repeats
    // at least every two seconds while the device answers it.
    static constexpr std::chrono::milliseconds kSearchSilence{5000};

    // `versionBefore`: the version the device ran before the image; empty when unknown
    // (then only an absence and a return count).
    explicit ReturnWatch(std::string versionBefore);

    // A look over HTTP went unanswered: the device is away.
    void Unanswered();
    // The device answered over HTTP; `version` is the firmware version its answer named
    // (empty when it named none).
    void Answered(const std::string& version);
    // The search reported the device afresh at `now`.
    void Reported(TimePoint now);
    // Notes the time of a look: a search silent for kSearchSilence after it had been
    // reporting the device means the device is away.
    void Looked(TimePoint now);
    // A device with the awaited MAC answered, or was reported by the search, at
    // `address`, which is not the one the device was left at.
    void SeenElsewhere(const std::string& address);

    bool Returned() const { return returned_; }
    const std::string& VersionBefore() const { return before_; }
    // The version the device named after its return; empty when none was read.
    const std::string& VersionAfter() const { return after_; }
    // The address the device came back at when it was not the one it was left at; empty
    // otherwise.
    const std::string& NewAddress() const { return newAddress_; }

private:
    std::string before_;
    std::string after_;
    std::string newAddress_;
    bool away_ = false;
    bool returned_ = false;
    bool reported_ = false;  // the search has reported the device during the wait
    TimePoint lastReport_{};
};

// Where a device was seen: its address and HTTP port.
struct DeviceSighting {
    std::string Host;
    int Port = 0;
};

// Finds a device by its MAC among those a search reports, wherever they answer now:
// how an upgrade that waits for a device recognises it back at another address. The
// camera control is one.
class IDeviceLocator {
public:
    virtual ~IDeviceLocator() = default;
    // Keeps a search running; where a device naming `mac` was reported, if one was. May
    // ask a few reported devices of unknown MAC for theirs (blocking, about a second).
    virtual std::optional<DeviceSighting> Locate(const std::string& mac) = 0;
};
