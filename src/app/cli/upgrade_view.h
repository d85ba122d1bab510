#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/cli/terminal.h"
#include "device/ip_cam_info.h"
#include "history/history_record.h"

// The upgrade as a person at a terminal sees it: one line per device with a progress
// bar, percent, time left and the status text, redrawn in place, and a closing summary.
// Safe to call from the reporting threads.
class UpgradeTerminalView {
public:
    UpgradeTerminalView(FILE* out, bool colour, int columns);

    void AddDevice(const CIPCamInfo& record);
    // A device's final report stands, but for a late return that amends it; `windowEnd`
    // as in UpgradeReport.
    void Update(const std::string& deviceId, int stage, int seconds, int percent, int code,
                int64_t windowEnd = 0);

    // Redraws when something changed and the last drawing is old enough (a terminal
    // that gets a frame per report falls behind with hundreds of devices).
    void Refresh();

    // The last drawing, then the summary: "2 upgraded, 1 already up to date, 1 failed:
    // Yard NVR (Failed! Please check the firmware file.)".
    void Finish(const std::vector<std::string>& missing);

    // One device's line (exposed for tests).
    struct Row {
        std::string DeviceId;
        std::string Label;  // name, or identifier when the device has no name
        std::string Address;
        int Stage = -1;  // no report yet
        int Seconds = 0;
        int Percent = 0;
        int Code = 0;
        int64_t WindowEnd = 0;
    };
    static std::string RowText(const Row& row, const Paint& paint, int labelWidth, int addressWidth,
                               int columns);

private:
    Row& RowOf(const std::string& deviceId);
    void Draw();

    FILE* const out_;
    const Paint paint_;
    const int columns_;
    std::mutex lock_;
    std::vector<Row> rows_;
    size_t drawn_ = 0;  // lines of the last drawing
    bool changed_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};
