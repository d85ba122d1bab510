#include "schedule/schedule_list.h"

#include <mutex>
#include <set>

#include "base/result_codes.h"
#include "base/text.h"
#include "schedule/schedule_file.h"

struct CScheduleList::Slot {
    uint64_t Id = 0;
    CScheduleInfo Info;
    bool Running = false;
};

// Shared with every run, so a run outlives neither its entry nor the lock.
struct CScheduleList::State {
    mutable std::mutex Mutex;
    std::vector<std::shared_ptr<Slot>> Slots;
    uint64_t NextId = 1;
    int Running = 0;
    // The devices being upgraded, by upper-cased MAC, including runs of replaced entries.
    std::multiset<std::string> RunningMacs;

    std::shared_ptr<Slot> MakeSlot(const CScheduleInfo& info) {
        auto slot = std::make_shared<Slot>();
        slot->Id = NextId++;
        slot->Info = info;
        return slot;
    }

    std::vector<std::shared_ptr<Slot>>::iterator FindSlot(uint64_t id) {
        for (auto it = Slots.begin(); it != Slots.end(); ++it) {
            if ((*it)->Id == id) return it;
        }
        return Slots.end();
    }
};

CScheduleList::CScheduleList() : state_(std::make_shared<State>()) {}

CScheduleList::~CScheduleList() = default;

void CScheduleList::Assign(const std::vector<CScheduleInfo>& entries) {
    std::lock_guard lock(state_->Mutex);
    state_->Slots.clear();
    for (const CScheduleInfo& info : entries) state_->Slots.push_back(state_->MakeSlot(info));
}

uint64_t CScheduleList::Append(const CScheduleInfo& entry) {
    std::lock_guard lock(state_->Mutex);
    state_->Slots.push_back(state_->MakeSlot(entry));
    return state_->Slots.back()->Id;
}

std::vector<ScheduleEntry> CScheduleList::Entries() const {
    std::lock_guard lock(state_->Mutex);
    std::vector<ScheduleEntry> entries;
    entries.reserve(state_->Slots.size());
    for (const auto& slot : state_->Slots) entries.push_back({slot->Id, slot->Info, slot->Running});
    return entries;
}

std::vector<CScheduleInfo> CScheduleList::Infos() const {
    std::lock_guard lock(state_->Mutex);
    std::vector<CScheduleInfo> infos;
    infos.reserve(state_->Slots.size());
    for (const auto& slot : state_->Slots) infos.push_back(slot->Info);
    return infos;
}

std::optional<ScheduleEntry> CScheduleList::Find(uint64_t id) const {
    std::lock_guard lock(state_->Mutex);
    auto it = state_->FindSlot(id);
    if (it == state_->Slots.end()) return std::nullopt;
    return ScheduleEntry{(*it)->Id, (*it)->Info, (*it)->Running};
}

std::optional<uint64_t> CScheduleList::FindByMac(std::string_view mac) const {
    std::lock_guard lock(state_->Mutex);
    for (const auto& slot : state_->Slots) {
        if (EqualsNoCase(slot->Info.MAC, mac)) return slot->Id;
    }
    return std::nullopt;
}

bool CScheduleList::Reschedule(uint64_t id, int64_t upgradeTime,
                               const std::optional<std::string>& until) {
    std::lock_guard lock(state_->Mutex);
    auto it = state_->FindSlot(id);
    if (it == state_->Slots.end() || (*it)->Running) return false;
    (*it)->Info.Status = schedule_status::kWaiting;
    (*it)->Info.UpgradeTime = upgradeTime;
    if (until) (*it)->Info.Until = *until;
    return true;
}

bool CScheduleList::Replace(uint64_t id, const CScheduleInfo& entry) {
    std::lock_guard lock(state_->Mutex);
    auto it = state_->FindSlot(id);
    if (it == state_->Slots.end() || (*it)->Running) return false;
    (*it)->Info = entry;
    return true;
}

bool CScheduleList::SetFirmwarePath(uint64_t id, const std::string& path) {
    std::lock_guard lock(state_->Mutex);
    auto it = state_->FindSlot(id);
    if (it == state_->Slots.end()) return false;
    (*it)->Info.FWPath = path;
    return true;
}

bool CScheduleList::Remove(uint64_t id) {
    std::lock_guard lock(state_->Mutex);
    auto it = state_->FindSlot(id);
    if (it == state_->Slots.end() || (*it)->Running) return false;
    state_->Slots.erase(it);
    return true;
}

int CScheduleList::RunningCount() const {
    std::lock_guard lock(state_->Mutex);
    return state_->Running;
}

std::vector<uint64_t> CScheduleList::UpdateEach(const std::function<bool(CScheduleInfo&)>& step) {
    std::lock_guard lock(state_->Mutex);
    std::vector<uint64_t> changed;
    for (const auto& slot : state_->Slots) {
        if (step(slot->Info)) changed.push_back(slot->Id);
    }
    return changed;
}

std::vector<uint64_t> CScheduleList::FailInterrupted() {
    std::lock_guard lock(state_->Mutex);
    std::vector<uint64_t> failed;
    for (const auto& slot : state_->Slots) {
        const int status = slot->Info.Status;
        if (slot->Running ||
            (status != schedule_status::kUploading && status != schedule_status::kUpgrading)) {
            continue;
        }
        slot->Info.Status = schedule_status::kOtherFailed;
        // The program ended while the device may have been flashing: its outcome is
        // not known.
        slot->Info.UploadResult = rc::kNotConfirmed;
        failed.push_back(slot->Id);
    }
    return failed;
}

std::vector<CScheduledRun> CScheduleList::StartQueued() {
    std::lock_guard lock(state_->Mutex);
    std::vector<CScheduledRun> runs;
    for (const auto& slot : state_->Slots) {
        if (slot->Info.Status != schedule_status::kQueued || slot->Running) continue;
        // However it came to be queued, an address a hand-edited file spoiled is not used.
        if (!HasUsableAddress(slot->Info)) continue;
        // A device is never flashed by two runs at once (nor restarted under a running
        // upload): a second entry for it waits in the queue until the first run ends.
        std::string device = ToUpperAscii(slot->Info.MAC);
        if (state_->RunningMacs.count(device) > 0) continue;
        slot->Info.Status = schedule_status::kUpgrading;
        // Nothing of an earlier run may pass for this one's.
        slot->Info.UploadResult = 0;
        slot->Info.Result = 0;
        slot->Info.TotalBytes = 0;
        slot->Info.SentBytes = 0;
        // The latest version known: what the last run saw, else the planned one.
        slot->Info.VersionBefore =
            slot->Info.VersionAfter.empty() ? slot->Info.Version : slot->Info.VersionAfter;
        slot->Info.VersionAfter.clear();
        slot->Running = true;
        ++state_->Running;
        state_->RunningMacs.insert(device);
        runs.push_back(CScheduledRun(state_, slot));
    }
    return runs;
}

CScheduledRun::CScheduledRun(std::shared_ptr<CScheduleList::State> state,
                             std::shared_ptr<CScheduleList::Slot> slot)
    : state_(std::move(state)),
      slot_(std::move(slot)),
      id_(slot_->Id),
      device_(ToUpperAscii(slot_->Info.MAC)) {}

CScheduledRun::CScheduledRun(CScheduledRun&& other) noexcept
    : state_(std::move(other.state_)),
      slot_(std::move(other.slot_)),
      id_(other.id_),
      device_(std::move(other.device_)),
      finished_(other.finished_) {}

CScheduledRun& CScheduledRun::operator=(CScheduledRun&& other) noexcept {
    if (this != &other) {
        if (state_ && !finished_) Finish(schedule_status::kOtherFailed);
        state_ = std::move(other.state_);
        slot_ = std::move(other.slot_);
        id_ = other.id_;
        device_ = std::move(other.device_);
        finished_ = other.finished_;
    }
    return *this;
}

CScheduledRun::~CScheduledRun() {
    if (state_ && !finished_) Finish(schedule_status::kOtherFailed);
}

CScheduleInfo CScheduledRun::Entry() const {
    if (!state_) return {};
    std::lock_guard lock(state_->Mutex);
    return slot_->Info;
}

void CScheduledRun::SetStatus(int status) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.Status = status;
}

void CScheduledRun::SetUploadProgress(int64_t totalBytes, int64_t sentBytes) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.TotalBytes = totalBytes;
    slot_->Info.SentBytes = sentBytes;
}

void CScheduledRun::SetUploadResult(int code) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.UploadResult = code;
}

void CScheduledRun::SetResult(int code) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.Result = code;
}

void CScheduledRun::SetFirmwareVersion(const std::string& version) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.VersionAfter = version;
}

void CScheduledRun::SetVersionBefore(const std::string& version) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.VersionBefore = version;
}

void CScheduledRun::SetAddress(const std::string& ip, const std::string& port) {
    if (!state_ || finished_) return;
    std::lock_guard lock(state_->Mutex);
    slot_->Info.IP = ip;
    slot_->Info.Port = port;
}

CScheduleInfo CScheduledRun::Finish(int finalStatus) {
    if (!state_) return {};
    std::lock_guard lock(state_->Mutex);
    if (!finished_) {
        finished_ = true;
        slot_->Info.Status = finalStatus;
        slot_->Running = false;
        --state_->Running;
        state_->RunningMacs.erase(state_->RunningMacs.find(device_));
    }
    return slot_->Info;
}
