#pragma once

#include <string>
#include <vector>

#include "schedule/schedule_info.h"

// The schedule file: "Strelvane/fw_config.xml" in the user's Documents folder, UTF-8
// XML in one exact form (see schedule_file.cpp). It holds device passwords, so it is
// readable by its owner only.

std::string ScheduleFilePath(const std::string& documentsFolder);

// The whole file text for `entries`, in array order. Queued entries are written as
// waiting; the upload fields are not written.
std::string ScheduleFileText(const std::vector<CScheduleInfo>& entries);

// Replaces the file (creating its folder when needed) so that a crash or a full disk
// leaves the old file or the new one, never a torn one. False when nothing was written.
bool SaveSchedule(const std::string& path, const std::vector<CScheduleInfo>& entries);

// True when every field an upgrade needs is filled and the time is set; only such
// entries are read from the file or added to the schedule.
bool IsCompleteScheduleEntry(const CScheduleInfo& entry);

// The complete entries of the file, in file order. A missing, unreadable or malformed
// file gives no entries; the file itself is left as it is.
std::vector<CScheduleInfo> LoadSchedule(const std::string& path);
