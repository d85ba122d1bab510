#include "app/cli/upgrade_view.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"
#include "device/upgrade_progress.h"

namespace {

constexpr int kBarWidth = 20;
constexpr auto kFrame = std::chrono::milliseconds(100);
constexpr int kLabelCap = 24;
constexpr int kAddressCap = 21;
// What the status column asks for when the line is shared out ("Firmware upgrade
// successful."); the status gets what is left of the line and is cut there.
constexpr int kStatusWanted = 28;
constexpr int kColumnLeast = 8;
// The bar, percent and time left with the blanks between the columns.
constexpr int kFixedColumns = 2 + 2 + (kBarWidth + 2) + 1 + 4 + 1 + 5 + 2;

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
    const std::string head =
        PadColumns(row.Label, labelWidth) + "  " + PadColumns(row.Address, addressWidth) + "  ";
    const std::string body = bar + " " + percent + " " + left + "  " + status;
    const int headColumns = TextColumns(head);
    if (headColumns >= columns) return FitColumns(head + body, columns);
    // The colour goes on after the cut, so that a cut never drops its reset.
    return head + paint(FitColumns(body, columns - headColumns), colour);
}

void UpgradeTerminalView::Draw() {
    int labelWanted = 0;
    int addressWanted = 0;
    for (const Row& row : rows_) {
        labelWanted = std::max(labelWanted, std::min(kLabelCap, TextColumns(row.Label)));
        addressWanted = std::max(addressWanted, std::min(kAddressCap, TextColumns(row.Address)));
    }
    // One column spare: a line that fills the last one makes some terminals wrap.
    const int columns = columns_ - 1;
    const std::vector<int> widths = ShareColumns({labelWanted, addressWanted, kStatusWanted},
                                                 columns - kFixedColumns, kColumnLeast);
    std::string frame;
    if (drawn_ > 0) frame += StrFormat("\x1b[%zuA", drawn_);
    for (const Row& row : rows_) {
        frame += "\r\x1b[2K" + RowText(row, paint_, widths[0], widths[1], columns) + "\n";
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
            fail(FitColumns(row.Label, kLabelCap), "no final report");
            continue;
        }
        counts.Add(row.Code);
        if (OutcomeOf(row.Code) == OutcomeKind::Failed) {
            fail(FitColumns(row.Label, kLabelCap),
                 StatusCellText(row.Stage, 0, 100, row.Code, DefaultText, row.WindowEnd));
        }
    }
    for (const std::string& id : missing) {
        ++counts.Failed;
        fail(FitColumns(Printable(id), kLabelCap), "not found");
    }
    const std::string summary = OutcomeSummary(counts) + failures;
    const std::string line = paint_(summary, counts.Failed > 0 ? kRed : kGreen) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}
