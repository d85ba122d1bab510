#include "schedule/schedule_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "base/atomic_file.h"
#include "base/text.h"
#include "base/trace.h"

namespace st = schedule_status;

namespace {

constexpr int kMostBackups = 99;

// An entry as the file keeps it: queued is written as waiting; what a run notes of
// itself is not written.
CScheduleInfo StoredForm(CScheduleInfo info) {
    if (info.Status == st::kQueued) info.Status = st::kWaiting;
    info.UploadResult = 0;
    info.Result = 0;
    info.TotalBytes = 0;
    info.SentBytes = 0;
    info.VersionBefore.clear();
    info.VersionAfter.clear();
    return info;
}

std::vector<CScheduleInfo> StoredForms(const std::vector<CScheduleInfo>& entries) {
    std::vector<CScheduleInfo> stored;
    stored.reserve(entries.size());
    for (const CScheduleInfo& e : entries) stored.push_back(StoredForm(e));
    return stored;
}

// The key of an entry: its MAC in upper case and its rank among entries with that MAC.
using EntryKey = std::pair<std::string, int>;

// The key of the next entry with `mac`; `seen` counts the entries with each MAC so far.
EntryKey NextKey(const std::string& mac, std::map<std::string, int>& seen) {
    std::string upper = ToUpperAscii(mac);
    const int rank = seen[upper]++;
    return EntryKey{std::move(upper), rank};
}

template <typename T, typename MacOf>
std::map<EntryKey, T> Keyed(const std::vector<T>& items, MacOf macOf) {
    std::map<EntryKey, T> keyed;
    std::map<std::string, int> seen;
    for (const T& item : items) keyed.emplace(NextKey(macOf(item), seen), item);
    return keyed;
}

bool IsRunningStatus(int status) { return status == st::kUploading || status == st::kUpgrading; }

void MakeFolderOf(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
}

bool FolderOfExists(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    return folder.empty() || std::filesystem::is_directory(folder, ignored);
}

std::string FreeBackupName(const std::string& path) {
    std::string name = path + ".bak";
    for (int n = 2; n <= kMostBackups && std::filesystem::exists(name); ++n) {
        name = path + ".bak." + std::to_string(n);
    }
    return name;
}

// Interrupted runs end as failed; the file is rewritten when that changed anything.
void EndInterrupted(const std::string& path, ScheduleFileRead& read, std::string* backup) {
    if (read.State != ScheduleFileState::Ok) return;
    bool any = false;
    for (const CScheduleInfo& e : read.Entries) any = any || IsRunningStatus(e.Status);
    if (!any || CFileLock::IsHeld(SchedulerLockPath(path))) return;
    for (CScheduleInfo& e : read.Entries) {
        if (!IsRunningStatus(e.Status)) continue;
        Trace(
            "schedule: the upgrade of %s at %s was interrupted (no scheduler runs it any "
            "more); it ends as failed\n",
            e.MAC.c_str(), e.IP.c_str());
        e.Status = st::kOtherFailed;
    }
    const ScheduleSaved saved = SaveScheduleKeeping(path, read, read.Entries);
    if (!saved.Ok) return;
    read.DropsSomething = false;
    if (backup && !saved.Backup.empty()) *backup = saved.Backup;
}

}  // namespace

std::string ScheduleLockPath(const std::string& schedulePath) { return schedulePath + ".lock"; }

std::string SchedulerLockPath(const std::string& schedulePath) {
    return schedulePath + ".scheduler";
}

std::string BackupNotice(const std::string& backup) {
    return "the schedule file held entries or sections this program does not keep; the old "
           "file is kept as " +
           backup;
}

ScheduleSaved SaveScheduleKeeping(const std::string& path, const ScheduleFileRead& before,
                                  const std::vector<CScheduleInfo>& entries) {
    ScheduleSaved saved;
    if (before.State == ScheduleFileState::Ok && before.DropsSomething) {
        std::string bytes;
        const std::string backup = FreeBackupName(path);
        if (!ReadFileBytes(path, bytes) || !WriteFileAtomically(backup, bytes, 0600)) {
            saved.Error = "cannot keep the old schedule file as " + backup + ": " +
                          std::strerror(errno) + "; nothing was written";
            return saved;
        }
        saved.Backup = backup;
        Trace("schedule: %s\n", BackupNotice(backup).c_str());
    }
    MakeFolderOf(path);
    if (!SaveSchedule(path, entries)) {
        saved.Error = "cannot write " + path + ": " + std::strerror(errno);
        return saved;
    }
    saved.Ok = true;
    return saved;
}

ScheduleFileRead ReadScheduleLocked(const std::string& path, std::string* backup) {
    if (!FolderOfExists(path)) return ReadScheduleFile(path);
    std::optional<CFileLock> lock = CFileLock::Acquire(ScheduleLockPath(path));
    // Without the lock (a read-only folder) the file is read as it is and not changed.
    if (!lock) return ReadScheduleFile(path);
    RemoveStaleTemporaries(path);
    ScheduleFileRead read = ReadScheduleFile(path);
    EndInterrupted(path, read, backup);
    return read;
}

ScheduleSaved UpdateScheduleFile(const std::string& path,
                                 const std::function<bool(std::vector<CScheduleInfo>&)>& change) {
    ScheduleSaved saved;
    MakeFolderOf(path);
    std::optional<CFileLock> lock = CFileLock::Acquire(ScheduleLockPath(path));
    if (!lock) {
        saved.Error = "cannot lock " + ScheduleLockPath(path) + ": " + std::strerror(errno);
        return saved;
    }
    RemoveStaleTemporaries(path);
    ScheduleFileRead read = ReadScheduleFile(path);
    if (!read.Usable()) {
        saved.Error = read.Error;
        return saved;
    }
    std::string backup;
    EndInterrupted(path, read, &backup);
    std::vector<CScheduleInfo> entries = read.Entries;
    if (!change(entries)) {
        saved.Ok = true;
        saved.Backup = backup;
        return saved;
    }
    saved = SaveScheduleKeeping(path, read, entries);
    if (saved.Backup.empty()) saved.Backup = backup;
    return saved;
}

CScheduleFileSync::CScheduleFileSync(std::string path) : path_(std::move(path)) {}

bool CScheduleFileSync::AcquireSchedulerLock() {
    if (schedulerLock_) return true;
    MakeFolderOf(path_);
    schedulerLock_ = CFileLock::TryAcquire(SchedulerLockPath(path_), std::chrono::milliseconds(0));
    return schedulerLock_.has_value();
}

void CScheduleFileSync::ReleaseSchedulerLock() { schedulerLock_.reset(); }

void CScheduleFileSync::Adopt(const CScheduleList& list) {
    known_ = StoredForms(list.Infos());
    stamp_.reset();
}

CScheduleFileSync::Stamp CScheduleFileSync::FileStamp() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return {};
    return Stamp{static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
                 static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

CScheduleFileSync::Result CScheduleFileSync::Sync(CScheduleList& list, bool write) {
    Result result;
    // Nothing new to take in: the ticks look at the file without reading it.
    if (!write && stamp_ && *stamp_ == FileStamp()) return result;
    if (!write && !FolderOfExists(path_)) return result;
    MakeFolderOf(path_);
    std::optional<CFileLock> lock = CFileLock::Acquire(ScheduleLockPath(path_));
    if (!lock) {
        result.Ok = false;
        result.Error = "cannot lock " + ScheduleLockPath(path_) + ": " + std::strerror(errno);
        return result;
    }
    RemoveStaleTemporaries(path_);
    const ScheduleFileRead read = ReadScheduleFile(path_);
    if (!read.Usable()) {
        result.Ok = false;
        result.Error = read.Error;
        return result;
    }
    if (read.State == ScheduleFileState::Ok) {
        const std::vector<CScheduleInfo> theirs = StoredForms(read.Entries);
        auto macOfInfo = [](const CScheduleInfo& e) -> const std::string& { return e.MAC; };
        const auto known = Keyed(known_, macOfInfo);
        const auto file = Keyed(theirs, macOfInfo);
        const auto mine = Keyed(list.Entries(), [](const ScheduleEntry& e) -> const std::string& {
            return e.Info.MAC;
        });
        // In the file's order: a list that takes the whole file keeps its numbering.
        std::map<std::string, int> seen;
        for (const CScheduleInfo& entry : theirs) {
            const EntryKey key = NextKey(entry.MAC, seen);
            auto before = known.find(key);
            if (before == known.end()) {
                result.Changed.push_back(list.Append(entry));
            } else if (!(before->second == entry)) {
                auto held = mine.find(key);
                if (held != mine.end() && list.Replace(held->second.Id, entry))
                    result.Changed.push_back(held->second.Id);
            }
        }
        for (const auto& [key, entry] : known) {
            if (file.count(key) > 0) continue;
            if (auto held = mine.find(key); held != mine.end()) list.Remove(held->second.Id);
        }
        known_ = theirs;
    }
    stamp_ = FileStamp();
    if (write) {
        const std::vector<CScheduleInfo> entries = list.Infos();
        const ScheduleSaved saved = SaveScheduleKeeping(path_, read, entries);
        if (!saved.Ok) {
            result.Ok = false;
            result.Error = saved.Error;
            return result;
        }
        result.Backup = saved.Backup;
        known_ = StoredForms(entries);
        stamp_ = FileStamp();
    }
    return result;
}
