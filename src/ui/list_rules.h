#pragma once

#include "ui/list_model.h"

// The rules the upgrade and schedule pages give their lists for the fields whose meaning
// is theirs (the generic list does not know them).

// Device-list fields with a rule: the password state ("0" none remembered, "1"
// remembered, "2" device unreachable).
namespace device_field {
constexpr int kPasswordState = 15;
}  // namespace device_field

// Schedule-list fields with a rule: the status cell and the entry's status code.
namespace schedule_field {
constexpr int kStatus = 13;
constexpr int kStatusCode = 15;
}  // namespace schedule_field

// A device row may be ticked while no password is remembered for it and it is reachable.
bool DeviceRowMayTick(const CListRow& row);
// Grey rows that cannot be chosen, orange rows with a remembered password, grey text for
// the password of an unreachable device.
CListModel::CellColours DeviceCellColours(const CListRow& row, int column);

// A schedule row may be ticked unless its device is being uploaded to.
bool ScheduleRowMayTick(const CListRow& row);
// The status cell: waiting to upgrading in the text colour, success green, failures red.
CListModel::CellColours ScheduleCellColours(const CListRow& row, int column);
