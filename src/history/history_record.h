#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One final outcome of one device's upgrade, as the history keeps it for the handover
// report: what was upgraded, from which version to which, when, and how it ended.
struct UpgradeHistoryRecord {
    int64_t Time = 0;  // seconds since 1970-01-01 00:00 UTC
    std::string DeviceId;
    std::string DeviceName;
    std::string Model;
    std::string Mac;
    std::string Address;        // host, or host ":" port
    std::string VersionBefore;  // as the device reported it before the upgrade
    std::string VersionAfter;   // as read from the device after its return; empty if unread
    int Code = 0;               // the final result code; 0 and above mean success
    std::string ResultText;
    std::string ImageFile;  // file name without its folder
    std::string ImageMd5;   // of the whole file, as md5sum prints it

    bool operator==(const UpgradeHistoryRecord&) const = default;
};

// The history as a report shows it: a record of a late return (rc::kReturnedLate, written
// when a device that had ended as not seen again, or not confirmed because its run was
// cut short, came back with its new firmware) takes the place of that failure, the
// latest earlier record of the same device and image with code -10 or -11; so does a
// record of old firmware (-408) found by the look after a cut-short run, in place of its
// -11. A device is named by its identifier, or by its MAC where the record has none (a
// scheduled upgrade's). One without such a failure stays as it is. Programs that know
// nothing of late returns read both records: the failure, then the later outcome.
std::vector<UpgradeHistoryRecord> AmendLateReturns(std::vector<UpgradeHistoryRecord> records);

// How an outcome counts in a summary: the result codes split three ways.
enum class OutcomeKind { Upgraded, UpToDate, Failed };
OutcomeKind OutcomeOf(int code);

struct OutcomeCounts {
    int Upgraded = 0;
    int UpToDate = 0;
    int Failed = 0;
    void Add(int code);
};

// "12 upgraded, 1 already up to date, 2 failed"
std::string OutcomeSummary(const OutcomeCounts& counts);

// The time of a record as the history stores it, in UTC: "2026-12-09T05:18:14Z".
std::string UtcTimeText(int64_t time);
