#include "schedule_test_support.h"

void ScheduleRecorder::EntryProgress(uint64_t id, const CScheduleInfo& entry) {
    std::lock_guard lock(mutex_);
    events_.push_back({id, entry, false});
}

void ScheduleRecorder::EntryFinished(uint64_t id, const CScheduleInfo& entry) {
    std::lock_guard lock(mutex_);
    events_.push_back({id, entry, true});
}

std::vector<ScheduleEvent> ScheduleRecorder::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int> ScheduleRecorder::Statuses(uint64_t id) const {
    std::vector<int> statuses;
    for (const ScheduleEvent& e : Events()) {
        if (e.Id != id) continue;
        if (statuses.empty() || statuses.back() != e.Entry.Status)
            statuses.push_back(e.Entry.Status);
    }
    return statuses;
}

int ScheduleRecorder::FinishedCount(uint64_t id) const {
    int count = 0;
    for (const ScheduleEvent& e : Events()) count += e.Id == id && e.Finished;
    return count;
}

CScheduleInfo EntryFor(const DevsimProcess::Device& device, const std::string& mac,
                       const std::string& image, int64_t upgradeTime) {
    CScheduleInfo e;
    e.IP = device.Address;
    e.Port = std::to_string(device.HttpPort);
    e.Account = "admin";
    e.Password = "vqmtz";
    e.Device = device.Id;
    e.Model = "NVR";
    e.MAC = mac;
    e.Version = "1.0";
    e.UpgradeTime = upgradeTime;
    e.Status = schedule_status::kWaiting;
    e.FWPath = image;
    return e;
}

std::string OutputSoFar(DevsimProcess& sim, std::chrono::milliseconds quiet) {
    std::string output;
    while (auto line = sim.Process().ReadLine(quiet)) output += *line + "\n";
    return output;
}

CScheduleInfo StoredEntry(const std::string& mac, int64_t time, int status) {
    CScheduleInfo e;
    e.IP = "10.0.0.5";
    e.Port = "80";
    e.Account = "admin";
    e.Password = "pass1";
    e.Device = "Lobby NVR";
    e.Model = "NVR-1600";
    e.MAC = mac;
    e.Version = "V1.2.3";
    e.UpgradeTime = time;
    e.Status = status;
    e.FWPath = "/fw/nvr.bin";
    return e;
}
