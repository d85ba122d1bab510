#include "app/cli/upgrade_view.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"
#include "upgrade/upgrade_progress.h"

namespace {

constexpr int kBarWidth = 20;
constexpr auto kFrame = std::chrono::milliseconds(100);
constexpr int kLabelCap = 24;
constexpr int kAddressCap = 21;

std::string Bar(int percent) {
    const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
    std::string bar = "[";
    for (int i = 0; i < kBarWidth; ++i) bar += i < filled ? "#" : "-";
    return bar + "]";
}

}  // namespace

UpgradeTerminalView::UpgradeTerminalView(FILE* out, bool colour, int columns)
    : out_(out), paint_{colour}, columns_(columns) {}

UpgradeTerminalView::Row& UpgradeTerminalView::RowOf(const std::string& deviceId) {
    for (Row& row : rows_) {
        if (row.DeviceId == deviceId) return row;
    }
    Row& row = rows_.emplace_back();
    row.DeviceId = deviceId;
    row.Label = Printable(deviceId);
    return row;
}

void UpgradeTerminalView::AddDevice(const CIPCamInfo& record) {
    std::lock_guard lock(lock_);
    Row& row = RowOf(record.DeviceId);
    if (!record.DeviceName.empty()) row.Label = Printable(record.DeviceName);
    row.Address = Printable(record.HostAddress);
    changed_ = true;
}

void UpgradeTerminalView::Update(const std::string& deviceId, int stage, int seconds, int percent,
                                 int code, int64_t windowEnd) {
    std::lock_guard lock(lock_);
    Row& row = RowOf(deviceId);
    if (row.Stage == stage::kFinished && code != rc::kReturnedLate) return;
    row.Stage = stage;
    row.Seconds = seconds;
    row.Percent = percent;
    row.Code = code;
    row.WindowEnd = windowEnd;
    changed_ = true;
    if (stage == stage::kFinished) lastDraw_ = {};  // an ending is shown at once
}

void UpgradeTerminalView::Refresh() {
    std::lock_guard lock(lock_);
    if (!changed_ || std::chrono::steady_clock::now() - lastDraw_ < kFrame) return;
    Draw();
}

std::string UpgradeTerminalView::RowText(const Row& row, const Paint& paint, int labelWidth,
                                         int addressWidth, int columns) {
    std::string bar;
    std::string percent = "    ";
    std::string left = "     ";
    std::string status;
    const char* colour = kCyan;
    if (row.Stage < 0) {
        bar = Bar(0);
        status = "starting";
    } else if (row.Stage == stage::kFinished) {
        const OutcomeKind kind = OutcomeOf(row.Code);
        bar = Bar(kind == OutcomeKind::Upgraded ? 100 : 0);
        status = StatusCellText(row.Stage, 0, 100, row.Code, DefaultText, row.WindowEnd);
        colour = kind == OutcomeKind::Upgraded   ? kGreen
                 : kind == OutcomeKind::UpToDate ? kDim
                                                 : kRed;
    } else {
        const bool waiting = row.Stage == stage::kRunning && row.Seconds == 0;
        bar = Bar(waiting ? 0 : row.Percent);
        if (!waiting) percent = StrFormat("%3d%%", std::clamp(row.Percent, 0, 100));
        if (row.Seconds > 0) left = StrFormat("%02d:%02d", row.Seconds / 60, row.Seconds % 60);
        status = waiting ? StatusCellText(row.Stage, 0, 0, row.Code, DefaultText)
                 : row.Stage == stage::kUploading ? "uploading"
                                                  : "upgrading";
    }
    // The colour goes on after the cut, so that a cut never drops its reset.
    const std::string head =
        PadColumns(row.Label, labelWidth) + "  " + PadColumns(row.Address, addressWidth) + "  ";
    const std::string plain = head + bar + " " + percent + " " + left + "  " + status;
    const std::string fitted = FitColumns(plain, columns);
    if (fitted.size() <= head.size()) return fitted;
    return head + paint(fitted.substr(head.size()), colour);
}

void UpgradeTerminalView::Draw() {
    int labelWidth = 0;
    int addressWidth = 0;
    for (const Row& row : rows_) {
        labelWidth = std::max(labelWidth, std::min(kLabelCap, TextColumns(row.Label)));
        addressWidth = std::max(addressWidth, std::min(kAddressCap, TextColumns(row.Address)));
    }
    std::string frame;
    if (drawn_ > 0) frame += StrFormat("\x1b[%zuA", drawn_);
    // One column spare: a line that fills the last one makes some terminals wrap.
    for (const Row& row : rows_) {
        frame += "\r\x1b[2K" + RowText(row, paint_, labelWidth, addressWidth, columns_ - 1) + "\n";
    }
    std::fwrite(frame.data(), 1, frame.size(), out_);
    std::fflush(out_);
    drawn_ = rows_.size();
    changed_ = false;
    lastDraw_ = std::chrono::steady_clock::now();
}

void UpgradeTerminalView::Finish(const std::vector<std::string>& missing) {
    std::lock_guard lock(lock_);
    Draw();
    OutcomeCounts counts;
    std::string failures;
    auto fail = [&](const std::string& label, const std::string& why) {
        failures += (failures.empty() ? ": " : ", ") + label + " (" + why + ")";
    };
    for (const Row& row : rows_) {
        if (row.Stage != stage::kFinished) {
            ++counts.Failed;
            fail(row.Label, "no final report");
            continue;
        }
        counts.Add(row.Code);
        if (OutcomeOf(row.Code) == OutcomeKind::Failed) {
            fail(row.Label,
                 StatusCellText(row.Stage, 0, 100, row.Code, DefaultText, row.WindowEnd));
        }
    }
    for (const std::string& id : missing) {
        ++counts.Failed;
        fail(Printable(id), "not found");
    }
    const std::string summary = OutcomeSummary(counts) + failures;
    const std::string line = paint_(summary, counts.Failed > 0 ? kRed : kGreen) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}
