#pragma once

#include <functional>
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
// 0, or -12 when the file cannot be opened (or is not a regular file), -1 when it cannot
// be written; `problem` (when given) then receives the reason ("No space left on device").
int AppendHistory(const std::string& path, const UpgradeHistoryRecord& record,
                  std::string* problem = nullptr);

// Told when an outcome could not be kept in the history: the history file and the reason
// ("No space left on device"). Called on the thread that reported the outcome.
using HistoryProblem = std::function<void(const std::string& file, const std::string& reason)>;

// What the user is told when `count` outcomes could not be kept: "2 outcomes could not be
// recorded in the history FILE: REASON".
std::string HistoryProblemText(int count, const std::string& file, const std::string& reason);

// Every whole record in the file, oldest first; `skipped` (when given) counts the lines
// that were not. A missing file is an empty history; one that is there but cannot be read
// (not a regular file, no permission) gives none either, with the reason in `problem`.
std::vector<UpgradeHistoryRecord> ReadHistory(const std::string& path, int* skipped = nullptr,
                                              std::string* problem = nullptr);
