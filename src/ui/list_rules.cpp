#include "ui/list_rules.h"

#include "schedule/schedule_info.h"
#include "ui/skin.h"

namespace {

bool IsField(const CListRow& row, int column, int id) {
    return column >= 0 && column < row.Shown && row.Ids[static_cast<size_t>(column)] == id;
}

}  // namespace

bool DeviceRowMayTick(const CListRow& row) {
    return row.Text(device_field::kPasswordState) == QStringLiteral("0");
}

CListModel::CellColours DeviceCellColours(const CListRow& row, int column) {
    static const QColor kGrey(192, 192, 192);
    static const QColor kRemembered(254, 144, 3);
    CListModel::CellColours colours;
    if (!row.Checkable) {
        colours.Background = kGrey;
        return colours;
    }
    const QString state = row.Text(device_field::kPasswordState);
    if (state == QStringLiteral("1")) colours.Background = kRemembered;
    // Darkened to keep 4.5:1 against the cell.
    if (state == QStringLiteral("2") && IsField(row, column, field::kPassword)) {
        colours.Text = skin::kDisabledText;
    }
    return colours;
}

bool ScheduleRowMayTick(const CListRow& row) {
    return row.Text(schedule_field::kStatusCode).toInt() != schedule_status::kUploading;
}

CListModel::CellColours ScheduleCellColours(const CListRow& row, int column) {
    static const QColor kSucceeded(0, 128, 0);  // darkened to keep 4.5:1 against the cell
    CListModel::CellColours colours;
    if (!IsField(row, column, schedule_field::kStatus)) return colours;
    const int code = row.Text(schedule_field::kStatusCode).toInt();
    if (code < schedule_status::kWaiting || code > schedule_status::kUpgrading) {
        colours.Text = code == schedule_status::kSuccessful ? kSucceeded : skin::kWarning;
    }
    return colours;
}
