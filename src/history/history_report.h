#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "history/history_record.h"

// The handover report of the upgrade history: what was upgraded, from which version to
// which, when, and what failed. Every text written is well-formed UTF-8.

// The heading of the report: the period it covers and when it was made, as shown.
struct ReportHeading {
    std::string Since;  // empty: from the start of the history
    std::string Until;  // empty: up to now
    std::string MadeAt;
};

// One CSV field: valid UTF-8, quoted where it holds a comma, a quote or a line break;
// a `deviceText` (anything a device or a user named) that a spreadsheet would take for
// a formula starts with an apostrophe.
std::string CsvCell(std::string_view raw, bool deviceText);

// The report's word for an outcome: "upgraded", "already up to date" or "failed".
const char* ReportOutcomeWord(int code);

// The records in the order given, as CSV for spreadsheets: a header row, then one row
// per record; fields quoted where they hold a comma, a quote or a line break, lines
// ended by CR LF. A device text that a spreadsheet would take for a formula starts
// with an apostrophe.
std::string HistoryCsv(const std::vector<UpgradeHistoryRecord>& records);

// The same as one self-contained HTML page (no external resource) with a summary and a
// table that prints well; every text is escaped.
std::string HistoryHtml(const std::vector<UpgradeHistoryRecord>& records,
                        const ReportHeading& heading);
