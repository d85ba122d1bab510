#pragma once

#include <cstdint>
#include <optional>

#include "history/history_record.h"
#include "schedule/schedule_info.h"

// The history record of a scheduled run that has ended; nothing for a run that a
// shut-down stopped (it runs again or stays "Upgrading").
std::optional<UpgradeHistoryRecord> ScheduledRunRecord(const CScheduleInfo& entry, int64_t time);
