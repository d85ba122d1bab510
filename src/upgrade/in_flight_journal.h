#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/ip_cam_info.h"

// The devices whose upgrade is in flight: from the start of their upload (they may be
// flashing from then on) until their final outcome is recorded. A run that ends before
// that (a stop, Exit, a signal, a crash) leaves them here, and the next program to start
// looks at each once (ReviewInFlight) and amends the history with what it finds.
//
// One small file next to the history, the owner's only, shared by every process: each
// change is a read-modify-write under an exclusive lock, saved atomically, so that two
// processes never lose each other's entries and a crash leaves the old file or the new
// one. No password is kept: the look logs in with what the program that looks has for
// the device (see ReviewInFlight).

// Where the device's in-flight upgrade was started.
enum class InFlightOrigin { Upgrade, Schedule };

struct InFlightDevice {
    // The device's key in its origin: the upgrade's device identifier, or the schedule
    // entry's MAC. One entry per key and process.
    std::string Key;
    InFlightOrigin Origin = InFlightOrigin::Upgrade;
    int64_t Pid = 0;    // the process running the upgrade
    int64_t Began = 0;  // the upload's start, seconds since 1970
    // As the history names the device: its outcome's record is found by these.
    std::string DeviceId;  // empty for a scheduled upgrade
    std::string Mac;
    std::string DeviceName;
    std::string Model;
    // Where and how it is reached.
    std::string Scheme;  // "http" or "https"
    std::string Host;
    int Port = 0;
    DeviceProtocol Protocol = DeviceProtocol::Maker;
    std::string ServiceAddress;  // an ONVIF camera's device service; empty otherwise
    std::string User;
    std::string VersionBefore;  // empty when unknown
    bool ImagesFromStore = false;
    std::string ImagePath;  // the front image

    bool operator==(const InFlightDevice&) const = default;
};

// The journal beside the history file `historyPath`.
std::string InFlightJournalFile(const std::string& historyPath);

// The file's text for `devices`, and the devices of a text: an entry that is not whole
// or not sound (an address that is no host, a port out of range) is skipped and counted
// in `skipped`.
std::string EncodeInFlight(const std::vector<InFlightDevice>& devices);
std::vector<InFlightDevice> DecodeInFlight(std::string_view text, int* skipped = nullptr);

class CInFlightJournal {
public:
    // A journal that keeps nothing (tests, a program without a history).
    CInFlightJournal() = default;
    explicit CInFlightJournal(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // The device's upload begins: it is in flight for this process from now on (its Pid
    // and, when 0, its Began are filled in).
    void UploadBegins(InFlightDevice device) const;
    // The device's final outcome (of `origin`) is recorded: no longer in flight.
    void OutcomeRecorded(InFlightOrigin origin, const std::string& key) const;

    // Takes out of the file the devices of `origin` that no live process runs, to be
    // looked at once.
    std::vector<InFlightDevice> TakeOrphans(InFlightOrigin origin) const;
    // Every entry, as the file holds it now.
    std::vector<InFlightDevice> Entries() const;

private:
    std::string path_;
};
