#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schedule/schedule_info.h"

class CScheduledRun;

// One entry as the list shows it: a copy, with the entry's id in the list.
struct ScheduleEntry {
    uint64_t Id = 0;  // unique for the life of the list; MAC texts may repeat
    CScheduleInfo Info;
    bool Running = false;  // a worker is running it
};

// The schedule: entries in array order, each kept in storage of its own so that a
// worker's entry never moves while other entries are added or removed. One lock guards
// every entry; workers write their own entry's status and upload fields through their
// CScheduledRun while the user-interface thread (or the command line) reads and
// changes the list.
//
// While its worker runs, an entry belongs to the worker: Reschedule and Remove refuse
// it (the caller shows "Device is upgrading."), so a row never disappears or restarts
// while its device is being flashed, and its result is always shown and saved.
class CScheduleList {
public:
    CScheduleList();
    ~CScheduleList();
    CScheduleList(const CScheduleList&) = delete;
    CScheduleList& operator=(const CScheduleList&) = delete;

    // Replaces every entry (loading the file at start-up).
    void Assign(const std::vector<CScheduleInfo>& entries);
    // Adds an entry at the end and returns its id.
    uint64_t Append(const CScheduleInfo& entry);

    std::vector<ScheduleEntry> Entries() const;
    // The entries' values in array order, for saving.
    std::vector<CScheduleInfo> Infos() const;
    std::optional<ScheduleEntry> Find(uint64_t id) const;
    // The first entry whose MAC equals `mac` without regard to case.
    std::optional<uint64_t> FindByMac(std::string_view mac) const;

    // A new time: status waiting; with `until`, a new end of its window too (empty: none).
    // False for an unknown or running entry.
    bool Reschedule(uint64_t id, int64_t upgradeTime,
                    const std::optional<std::string>& until = std::nullopt);
    // Another value for an entry (changed by another process). False for an unknown or
    // running entry.
    bool Replace(uint64_t id, const CScheduleInfo& entry);
    // A new image for later runs (a running worker already has its copy).
    bool SetFirmwarePath(uint64_t id, const std::string& path);
    // False for an unknown or running entry.
    bool Remove(uint64_t id);

    // Runs that have started and not yet finished, including runs of entries that
    // Assign has since replaced.
    int RunningCount() const;

    // Applies `step` to every entry in array order under the lock and returns the ids of
    // the entries for which it returned true (changed).
    std::vector<uint64_t> UpdateEach(const std::function<bool(CScheduleInfo&)>& step);

    // Entries marked uploading or upgrading that no run of this list holds (read from
    // the file after their process ended) end as failed (8), their outcome not confirmed
    // (UploadResult -11); their ids.
    std::vector<uint64_t> FailInterrupted();

    // Starts every queued entry in array order: status upgrading, marked running, the
    // run's own fields reset (VersionBefore := the last run's VersionAfter, else
    // Version), one run each for the caller to hand to a worker. An entry whose device
    // (MAC, without regard to case) is being upgraded by another run stays queued until
    // that run ends, and one without a usable address (HasUsableAddress) is never started.
    std::vector<CScheduledRun> StartQueued();

private:
    friend class CScheduledRun;
    struct Slot;
    struct State;

    std::shared_ptr<State> state_;
};

// A worker's hold on the entry it runs. The entry's storage stays valid and in place
// for the whole run, even if the list lets go of it. Move-only. The run ends exactly
// once: by Finish, or, should a worker drop it without finishing, by its destructor
// with status 8 (any other error), so the running count never stays up.
class CScheduledRun {
public:
    CScheduledRun(CScheduledRun&& other) noexcept;
    CScheduledRun& operator=(CScheduledRun&& other) noexcept;
    ~CScheduledRun();

    uint64_t Id() const { return id_; }
    // A copy of the entry as it is now.
    CScheduleInfo Entry() const;

    void SetStatus(int status);
    void SetUploadProgress(int64_t totalBytes, int64_t sentBytes);
    void SetUploadResult(int code);
    // The run's own result code where its status says less (status 8: -701, -408, -601).
    void SetResult(int code);
    // The version the device named before the upload.
    void SetVersionBefore(const std::string& version);
    // The device came back from its upgrade at another address (a new DHCP lease).
    void SetAddress(const std::string& ip, const std::string& port);
    // The version the device named after its upgrade (VersionAfter; Version stays as
    // planned, and the history holds both).
    void SetFirmwareVersion(const std::string& version);

    // Sets the final status, ends the run (the entry may be edited or deleted again)
    // and returns the entry as finished, for the finish report. Later calls do nothing
    // and return the entry as it is.
    CScheduleInfo Finish(int finalStatus);

private:
    friend class CScheduleList;
    CScheduledRun(std::shared_ptr<CScheduleList::State> state,
                  std::shared_ptr<CScheduleList::Slot> slot);

    std::shared_ptr<CScheduleList::State> state_;
    std::shared_ptr<CScheduleList::Slot> slot_;
    uint64_t id_ = 0;
    std::string device_;  // upper-cased MAC
    bool finished_ = false;
};
