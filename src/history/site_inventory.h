#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "firmware/firmware_match.h"
#include "history/history_record.h"

// The inventory of a site, as installers hand it over: one row per device of both
// families with what it runs, what the store holds for it, whether it is behind, and its
// last upgrade as the history tells it.

enum class InventoryState { UpToDate, NewerAvailable, NotChecked };

// "up to date", "newer available", "not checked" (its log-in failed).
const char* InventoryStateWord(InventoryState state);

// What a camera's row names as the newest version: the store holds no camera images.
constexpr const char* kNewestNotKnown = "not known";

struct InventoryRow {
    std::string Name;
    std::string Maker;
    std::string Model;
    std::string Mac;
    std::string Serial;
    std::string Address;  // host ":" port
    std::string Version;
    std::string Newest;  // the store's newest for its model; kNewestNotKnown; empty: none
    InventoryState State = InventoryState::NotChecked;
    std::string LastOutcome;  // the report's word; empty when never upgraded
    int64_t LastTime = 0;     // of that outcome; 0 when never upgraded
};

// One row per device, in the order given. A device whose log-in was not confirmed is
// "not checked"; a maker's device is "newer available" when the store's newest image
// for its model is newer than what it runs; the last outcome is the latest history
// record of the device (by MAC address, else by device identifier), late returns
// amended.
std::vector<InventoryRow> BuildInventory(const std::vector<CIPCamInfo>& devices,
                                         const IFirmwareMatch& store,
                                         const std::vector<UpgradeHistoryRecord>& history);

// "38 devices: 31 up to date, 5 with newer firmware, 2 not checked"
std::string InventorySummary(const std::vector<InventoryRow>& rows);

// CSV with a header row, cells safe against spreadsheet formulas as the report's are.
std::string InventoryCsv(const std::vector<InventoryRow>& rows);

// One self-contained page (no external resource) that opens with the summary and prints
// well; every text is escaped. `madeAt` is shown as the time it was made.
std::string InventoryHtml(const std::vector<InventoryRow>& rows, const std::string& madeAt);
