#include "history/history_report.h"

#include <string_view>

#include "base/text.h"
#include "base/utf16.h"
#include "base/xml_attribute.h"

namespace {

// The outcome's word in the report and the class that colours its row.
struct OutcomeLook {
    const char* Word;
    const char* RowClass;
};

OutcomeLook LookOf(int code) {
    switch (OutcomeOf(code)) {
        case OutcomeKind::Upgraded:
            return {"upgraded", "ok"};
        case OutcomeKind::UpToDate:
            return {"already up to date", "same"};
        case OutcomeKind::Failed:
            break;
    }
    return {"failed", "fail"};
}

constexpr const char* kStyle = R"(
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 2em; color: #1c1c1c; }
h1 { font-size: 1.5em; margin: 0 0 .2em; }
.period { color: #555; margin: 0 0 1em; }
.summary { display: flex; gap: 1em; margin: 0 0 1.2em; }
.summary div { border: 1px solid #ccc; border-radius: 4px; padding: .4em .9em; }
.summary b { font-size: 1.4em; display: block; }
table { border-collapse: collapse; width: 100%; font-size: .85em; }
th, td { border: 1px solid #bbb; padding: .3em .45em; text-align: left; vertical-align: top; }
th { background: #eee; }
td.n { white-space: nowrap; }
td.md5 { font-family: "Liberation Mono", monospace; font-size: .9em; word-break: break-all; }
tr.ok td.result { color: #17612a; }
tr.same td.result { color: #555; }
tr.fail td.result { color: #a11a1a; font-weight: bold; }
tr { page-break-inside: avoid; }
thead { display: table-header-group; }
@media print { body { margin: 0; } @page { size: A4 landscape; margin: 12mm; } }
)";

}  // namespace

std::string CsvCell(std::string_view raw, bool deviceText) {
    std::string text = ToValidUtf8(raw);
    // A spreadsheet runs a cell that starts like a formula; a device name must not.
    if (deviceText && !text.empty() &&
        std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
        text.insert(text.begin(), '\'');
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

const char* ReportOutcomeWord(int code) { return LookOf(code).Word; }

std::string HistoryCsv(const std::vector<UpgradeHistoryRecord>& records) {
    std::string csv =
        "Time,Device ID,Device name,Model,MAC address,Address,Version before,Version after,"
        "Outcome,Result code,Result,Image file,Image MD5\r\n";
    for (const UpgradeHistoryRecord& r : records) {
        const std::string fields[] = {CsvCell(LocalTimeText(r.Time), false),
                                      CsvCell(r.DeviceId, true),
                                      CsvCell(r.DeviceName, true),
                                      CsvCell(r.Model, true),
                                      CsvCell(r.Mac, true),
                                      CsvCell(r.Address, true),
                                      CsvCell(r.VersionBefore, true),
                                      CsvCell(r.VersionAfter, true),
                                      CsvCell(LookOf(r.Code).Word, false),
                                      CsvCell(std::to_string(r.Code), false),
                                      CsvCell(r.ResultText, true),
                                      CsvCell(r.ImageFile, true),
                                      CsvCell(r.ImageMd5, false)};
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i > 0) csv += ',';
            csv += fields[i];
        }
        csv += "\r\n";
    }
    return csv;
}

std::string HistoryHtml(const std::vector<UpgradeHistoryRecord>& records,
                        const ReportHeading& heading) {
    OutcomeCounts counts;
    for (const UpgradeHistoryRecord& r : records) counts.Add(r.Code);
    std::string period = heading.Since.empty() ? "From the first record" : "From " + heading.Since;
    period += heading.Until.empty() ? " to now" : " to " + heading.Until;
    period += "; made " + heading.MadeAt + ".";

    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Firmware upgrade report</title>\n<style>";
    page += kStyle;
    page += "</style>\n</head>\n<body>\n<h1>Firmware upgrade report</h1>\n<p class=\"period\">";
    page += XmlAttributeText(period);
    page += "</p>\n<div class=\"summary\">";
    const std::pair<const char*, int> tiles[] = {{"devices", static_cast<int>(records.size())},
                                                 {"upgraded", counts.Upgraded},
                                                 {"already up to date", counts.UpToDate},
                                                 {"failed", counts.Failed}};
    for (const auto& [label, count] : tiles) {
        page += "<div><b>" + std::to_string(count) + "</b>" + label + "</div>";
    }
    page +=
        "</div>\n<table>\n<thead><tr><th>Time</th><th>Device</th><th>Model</th><th>MAC "
        "address</th><th>Address</th><th>Version before</th><th>Version after</th>"
        "<th>Result</th><th>Image</th><th>Image MD5</th></tr></thead>\n<tbody>\n";
    for (const UpgradeHistoryRecord& r : records) {
        page += "<tr class=\"" + std::string(LookOf(r.Code).RowClass) + "\"><td class=\"n\">" +
                XmlAttributeText(LocalTimeText(r.Time)) + "</td><td>" +
                XmlAttributeText(r.DeviceName);
        if (!r.DeviceId.empty()) page += "<br><small>" + XmlAttributeText(r.DeviceId) + "</small>";
        page += "</td><td class=\"n\">" + XmlAttributeText(r.Model) + "</td><td class=\"n\">" +
                XmlAttributeText(r.Mac) + "</td><td class=\"n\">" + XmlAttributeText(r.Address) +
                "</td><td class=\"n\">" + XmlAttributeText(r.VersionBefore) +
                "</td><td class=\"n\">" + XmlAttributeText(r.VersionAfter) +
                "</td><td class=\"result\">" + LookOf(r.Code).Word + "<br><small>" +
                XmlAttributeText(r.ResultText) + " (" + std::to_string(r.Code) +
                ")</small></td><td>" + XmlAttributeText(r.ImageFile) + "</td><td class=\"md5\">" +
                XmlAttributeText(r.ImageMd5) + "</td></tr>\n";
    }
    page += "</tbody>\n</table>\n</body>\n</html>\n";
    return page;
}
