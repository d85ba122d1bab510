#pragma once

#include <string>
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

// The records in the order given, as CSV for spreadsheets: a header row, then one row
// per record; fields quoted where they hold a comma, a quote or a line break, lines
// ended by CR LF. A device text that a spreadsheet would take for a formula starts
// with an apostrophe.
std::string HistoryCsv(const std::vector<UpgradeHistoryRecord>& records);

// The same as one self-contained HTML page (no external resource) with a summary and a
// table that prints well; every text is escaped.
std::string HistoryHtml(const std::vector<UpgradeHistoryRecord>& records,
                        const ReportHeading& heading);
