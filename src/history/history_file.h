#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_record.h"

// The upgrade history: one line per final outcome, appended by every program that
// upgrades (command line, schedule runner, desktop program), read by the report.
//
// A line is tab-separated UTF-8 text ending in a line feed; backslash, tab, carriage
// return and line feed inside a field are written as \\, \t, \r and \n, other control
// characters are dropped, broken UTF-8 becomes U+FFFD, and each field is cut to a
// bounded length, so a line stays small. A line is written with one write() under an
// exclusive flock, so concurrent writers never interleave; a reader skips any line
// that is not whole (a writer killed in the middle, a machine that lost power).

// $XDG_STATE_HOME/strelvane/history.tsv, or ~/.local/state/strelvane/history.tsv.
std::string DefaultHistoryFile();

// The line for `record`, line feed included.
std::string EncodeHistoryLine(const UpgradeHistoryRecord& record);
// The record of one line (without its line feed); nothing when the line is not whole.
std::optional<UpgradeHistoryRecord> DecodeHistoryLine(std::string_view line);

// Appends `record` to the file at `path`, creating the file and its folder as needed.
// 0, or -12 when the file cannot be opened, -1 when it cannot be written.
int AppendHistory(const std::string& path, const UpgradeHistoryRecord& record);

// Every whole record in the file, oldest first; `skipped` (when given) counts the lines
// that were not. A missing file is an empty history.
std::vector<UpgradeHistoryRecord> ReadHistory(const std::string& path, int* skipped = nullptr);
