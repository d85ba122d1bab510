#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/file_lock.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"

// The schedule file shared by every process of the user (the command line, the GUI, a
// second GUI): every read-modify-write holds an advisory lock on "<file>.lock" beside
// it, so concurrent changes are never lost, and a running scheduler holds the scheduler
// lock "<file>.scheduler" for as long as it runs, so another process can tell whether
// entries marked as running really are.
//
// A file that cannot be read, is not well-formed or is not a schedule is never
// replaced. When a save would drop what the file holds beyond its complete entries
// (see ScheduleFileRead::DropsSomething), the old file is first kept as
// "<file>.bak" (or "<file>.bak.N" when that exists) and the save says so.

std::string ScheduleLockPath(const std::string& schedulePath);
std::string SchedulerLockPath(const std::string& schedulePath);

// What a save did besides writing.
struct ScheduleSaved {
    bool Ok = false;
    std::string Error;   // why nothing was written
    std::string Backup;  // the copy of the old file kept before this save, if any
};

// Under the file lock (the caller holds it): replaces the file with `entries`, keeping a
// backup first when `before` (the file as read under the same lock) drops something.
ScheduleSaved SaveScheduleKeeping(const std::string& path, const ScheduleFileRead& before,
                                  const std::vector<CScheduleInfo>& entries);

// The text telling the user where the old file was kept.
std::string BackupNotice(const std::string& backup);

// Reads the file under its lock. Entries marked uploading or upgrading while no
// scheduler holds the file were interrupted (their process ended while they ran): they
// end as failed (8), the trace says why, and the file is rewritten. Leftover temporary
// files of killed saves are removed.
ScheduleFileRead ReadScheduleLocked(const std::string& path, std::string* backup = nullptr);

// One read-modify-write under the lock: `change` gets the file's entries (after the
// rule above) and returns false to write nothing. Refuses (Ok false, nothing written) a
// file that is not usable.
ScheduleSaved UpdateScheduleFile(const std::string& path,
                                 const std::function<bool(std::vector<CScheduleInfo>&)>& change);

// A scheduler's view of the file: it merges into its list what other processes added,
// removed or changed since its last read, and writes the list back without losing
// those changes. Entries compare by MAC without regard to case (and by order among
// entries with the same MAC). Used by one scheduler at a time.
class CScheduleFileSync {
public:
    explicit CScheduleFileSync(std::string path);

    const std::string& Path() const { return path_; }

    // Takes the scheduler lock; false when another scheduler (in this process or
    // another) holds it. Kept until Release or the object goes.
    bool AcquireSchedulerLock();
    void ReleaseSchedulerLock();

    // Takes the list's entries as what the file held when they were loaded.
    void Adopt(const CScheduleList& list);

    struct Result {
        bool Ok = true;      // false: the file is not usable (or not writable); see Error
        std::string Error;   // why
        std::string Backup;  // a backup kept by this write
        std::vector<uint64_t> Changed;  // list entries added or changed by the merge
    };

    // Under the file lock: merges the changes other processes made to the file since the
    // last Sync (a missing file tells nothing: it is written anew), then, when `write`,
    // writes the whole list. An entry another process removed or changed while this
    // list runs it stays as this list has it.
    Result Sync(CScheduleList& list, bool write);

private:
    // What tells one version of the file from another without reading it: an atomic
    // save is a new file (inode), an edit in place changes its time or size.
    struct Stamp {
        uint64_t Inode = 0;
        int64_t Size = -1;
        int64_t ModifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    Stamp FileStamp() const;

    std::string path_;
    std::vector<CScheduleInfo> known_;  // the file as last read or written, in stored form
    std::optional<Stamp> stamp_;        // of the file as last read or written
    std::optional<CFileLock> schedulerLock_;
};
