// The handover report: CSV that spreadsheets read back field for field, and an HTML page
// that shows every device text as text and needs nothing from outside.
#include <gtest/gtest.h>

#include <chrono>

#include "base/result_codes.h"
#include "base/utf16.h"
#include "history/history_file.h"
#include "history/history_report.h"
#include "history/site_inventory.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

UpgradeHistoryRecord Outcome(const std::string& name, int code, int64_t time = 1796793494) {
    UpgradeHistoryRecord r;
    r.Time = time;
    r.DeviceId = "ID-" + name;
    r.DeviceName = name;
    r.Model = "NVR-1600";
    r.Address = "198.18.1.1:80";
    r.VersionBefore = "2.0.4";
    r.Code = code;
    r.ResultText = "result";
    return r;
}

// Reads CSV as RFC 4180 describes it: rows of fields.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                rows.back().back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                rows.back().back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
    return rows;
}

TEST(HistoryReportTest, CsvQuotesWhatSpreadsheetsWouldSplit) {
    struct Case {
        std::string Name;
        std::string Read;
    };
    const Case cases[] = {
        {"Lobby NVR", "Lobby NVR"},
        {"Gate, north", "Gate, north"},
        {"the \"big\" one", "the \"big\" one"},
        {"two\nlines\r\nhere", "two\nlines\r\nhere"},
        {"=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")"},
        {"@cmd", "'@cmd"},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
    };
    std::vector<UpgradeHistoryRecord> records;
    for (const Case& c : cases) records.push_back(Outcome(c.Name, 0));
    const std::string csv = HistoryCsv(records);
    EXPECT_TRUE(IsValidUtf8(csv));
    const auto rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), std::size(cases) + 1);
    EXPECT_EQ(rows[0][2], "Device name");
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(rows[i + 1].size(), rows[0].size()) << cases[i].Name;
        EXPECT_EQ(rows[i + 1][2], cases[i].Read);
        EXPECT_EQ(rows[i + 1][8], "upgraded");
        EXPECT_EQ(rows[i + 1][9], "0") << "numbers stay numbers";
    }
}

TEST(HistoryReportTest, HtmlShowsDeviceTextsAsTextAndStandsAlone) {
    std::vector<UpgradeHistoryRecord> records = {Outcome("<script>alert(1)</script>", 0),
                                                 Outcome("Yard & \"Dock\" 'B'", -503),
                                                 Outcome("Broken \xC3", -406)};
    records[2].ResultText = "<img onerror=alert(2)>";
    records[2].ImageFile = "</td><td>";
    const std::string page = HistoryHtml(records, {"2026-12-01", "", "2026-12-09 06:00:00"});
    EXPECT_TRUE(IsValidUtf8(page));
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_NE(page.find("&lt;script>alert(1)&lt;/script>"), std::string::npos);
    EXPECT_NE(page.find("Yard &amp; &quot;Dock&quot; 'B'"), std::string::npos);
    EXPECT_NE(page.find("&lt;/td>&lt;td>"), std::string::npos);
    for (const char* external : {"src=", "href=", "url(", "@import", "http://", "https://"}) {
        EXPECT_EQ(page.find(external), std::string::npos) << external;
    }
    // One row per record, and the summary counts them.
    size_t rows = 0;
    for (size_t at = page.find("<tr class="); at != std::string::npos;
         at = page.find("<tr class=", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 3u);
    EXPECT_NE(page.find("<b>1</b>upgraded"), std::string::npos);
    EXPECT_NE(page.find("<b>1</b>already up to date"), std::string::npos);
    EXPECT_NE(page.find("<b>1</b>failed"), std::string::npos);
    EXPECT_NE(page.find("From 2026-12-01 to now"), std::string::npos);
}

// A late return stands in for the failure it amends, only that one: the device's
// outcome just before, with code -10 and the same image.
TEST(HistoryReportTest, LateReturnsReplaceOnlyTheFailureTheyAmend) {
    auto record = [](const std::string& device, int code, const std::string& md5 = "m1") {
        UpgradeHistoryRecord r = Outcome(device, code);
        r.ImageMd5 = md5;
        return r;
    };
    // A scheduled run's records name the device by MAC only.
    auto scheduled = [&](const std::string& mac, int code) {
        UpgradeHistoryRecord r = record(mac, code);
        r.DeviceId.clear();
        r.Mac = mac;
        return r;
    };
    constexpr int kLost = rc::kNotSeenAgain;
    constexpr int kLate = rc::kReturnedLate;
    constexpr int kCut = rc::kNotConfirmed;
    constexpr int kOld = rc::kOldFirmwareStill;
    struct Case {
        const char* Name;
        std::vector<UpgradeHistoryRecord> Records;
        std::vector<std::string> Shown;  // device name and code per shown record
    };
    const Case cases[] = {
        {"amends its failure in place",
         {record("A", kLost), record("B", 0), record("A", kLate)},
         {"A 601", "B 0"}},
        {"a later outcome of the device stands between",
         {record("A", kLost), record("A", rc::kImageRejected), record("A", kLate)},
         {"A -10", "A -406", "A 601"}},
        {"another image", {record("A", kLost, "m1"), record("A", kLate, "m2")}, {"A -10", "A 601"}},
        {"no failure before it", {record("A", kLate), record("A", kLost)}, {"A 601", "A -10"}},
        {"one failure, one amendment",
         {record("A", kLost), record("A", kLate), record("A", kLate)},
         {"A 601", "A 601"}},
        {"each device its own",
         {record("A", kLost), record("B", kLost), record("B", kLate), record("A", kLate)},
         {"A 601", "B 601"}},
        {"a cut-short run found upgraded", {record("A", kCut), record("A", kLate)}, {"A 601"}},
        {"a cut-short run found on its old firmware",
         {record("A", kCut), record("B", 0), record("A", kOld)},
         {"A -408", "B 0"}},
        {"old firmware amends no device that was not seen again",
         {record("A", kLost), record("A", kOld)},
         {"A -10", "A -408"}},
        {"a cut-short run seen back late after it was not seen again",
         {record("A", kLost), record("A", kCut), record("A", kLate)},
         {"A -10", "A 601"}},
        {"scheduled devices by their MAC",
         {scheduled("00:1C:A1:00:00:01", kCut), scheduled("00:1c:a1:00:00:02", kCut),
          scheduled("00:1c:a1:00:00:01", kLate)},
         {"00:1c:a1:00:00:01 601", "00:1c:a1:00:00:02 -11"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> shown;
        for (const UpgradeHistoryRecord& r : AmendLateReturns(c.Records)) {
            shown.push_back(r.DeviceName + " " + std::to_string(r.Code));
        }
        EXPECT_EQ(shown, c.Shown) << c.Name;
    }
}

TEST(HistoryReportTest, CommandPicksThePeriodAndRefusesBadDates) {
    TempDir dir;
    const std::string path = dir.File("history.tsv");
    // Local noon on three days.
    std::tm noon{};
    noon.tm_year = 2026 - 1900;
    noon.tm_mon = 11;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    for (int day : {1, 5, 9}) {
        std::tm t = noon;
        t.tm_mday = day;
        ASSERT_EQ(AppendHistory(path, Outcome("day" + std::to_string(day), 0, std::mktime(&t))), 0);
    }
    auto names = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = {STRELVANE_CLI_PATH, "report", "--history", path};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult result = RunProcess(argv, 10s);
        std::string found;
        for (const auto& row : ParseCsv(result.Output)) {
            if (row.size() > 2 && row[2] != "Device name") found += row[2] + " ";
        }
        return std::to_string(result.ExitCode) + ": " + found;
    };
    EXPECT_EQ(names({}), "0: day1 day5 day9 ");
    EXPECT_EQ(names({"--since", "2026-12-05"}), "0: day5 day9 ");
    EXPECT_EQ(names({"--until", "2026-12-05"}), "0: day1 day5 ") << "a date alone ends at its end";
    EXPECT_EQ(names({"--since", "2026-12-05 12:00:01", "--until", "2026-12-09T12:00"}), "0: day9 ");
    for (const char* bad : {"yesterday", "2026-02-30", "2026-12-05 25:00", "+5"}) {
        EXPECT_EQ(names({"--since", bad}), "2: ") << bad;
    }
    EXPECT_EQ(names({"--format", "pdf"}), "2: ");
    const ProcessResult html =
        RunProcess({STRELVANE_CLI_PATH, "report", "--history", path, "--format", "html"}, 10s);
    EXPECT_EQ(html.ExitCode, 0);
    EXPECT_NE(html.Output.find("<b>3</b>upgraded"), std::string::npos);
}

TEST(HistoryReportTest, OnATerminalDeviceTextsCannotActOnIt) {
    TempDir dir;
    const std::string path = dir.File("history.tsv");
    UpgradeHistoryRecord r = Outcome("Gate\rcam", 0);
    r.Mac = "AA:BB\033]0;owned\007\rEVIL\u009b2J\u202e";
    ASSERT_EQ(AppendHistory(path, r), 0);
    for (const char* format : {"csv", "html"}) {
        const std::vector<std::string> argv = {STRELVANE_CLI_PATH, "report", "--history", path,
                                               "--format",         format};
        // Through a pipe the spreadsheet gets the texts as the history holds them.
        if (std::string(format) == "csv") {
            EXPECT_NE(RunProcess(argv, 10s).Output.find("Gate\rcam"), std::string::npos);
        }
        const ProcessResult shown = RunOnTerminal(argv, {}, 10s);
        EXPECT_EQ(shown.ExitCode, 0) << format;
        EXPECT_NE(shown.Output.find("Gate cam"), std::string::npos) << shown.Output;
        for (const char* raw : {"\033", "\u009b", "\u202e"}) {
            EXPECT_EQ(shown.Output.find(raw), std::string::npos) << format << ": " << shown.Output;
        }
        // A carriage return only as a line's end (the terminal writes one before each line
        // feed), never one that goes back over a line.
        for (size_t at = shown.Output.find('\r'); at != std::string::npos;
             at = shown.Output.find('\r', at + 1)) {
            ASSERT_LT(at + 1, shown.Output.size());
            EXPECT_TRUE(shown.Output[at + 1] == '\n' || shown.Output[at + 1] == '\r') << format;
        }
    }
}

// The store of a site: images of NVR-1600 up to 2.0.0, nothing for other models.
class SiteStore : public IFirmwareMatch {
public:
    bool FindLatestFirmware(const std::string& model, const std::string& hwVer,
                            const std::string& product, std::vector<std::string>& versions,
                            std::vector<std::string>& paths) const override {
        if (model != "NVR-1600" || hwVer != "V1" || product != "NVR-1600") return false;
        versions = {"1.5.0", "2.0.0"};
        paths = {"/store/a.bin", "/store/b.bin"};
        return true;
    }
};

CIPCamInfo Device(const std::string& name, const std::string& model, const std::string& version,
                  bool loggedIn, DeviceProtocol protocol = DeviceProtocol::Maker) {
    CIPCamInfo d;
    d.DeviceId = "ID-" + name;
    d.DeviceName = name;
    d.ModelName = model;
    d.FirmwareVersion = version;
    d.HostAddress = "198.18.1.1";
    d.MacAddress = "00:11:22:33:44:" + name.substr(0, 2);
    d.LoginOk = loggedIn ? 1 : 0;
    d.Protocol = protocol;
    return d;
}

TEST(SiteInventoryTest, MixedSiteGetsTheRightStatesAndSafeCells) {
    const std::vector<CIPCamInfo> devices = {
        Device("=cmd|' /C calc'!A0", "NVR-1600", "1.0.0", true),  // behind the store
        Device("b2-current", "NVR-1600", "2.0.0", true),
        Device("c3-no-images", "NVR-800", "1.0.0", true),
        Device("d4-camera", "IPC-7", "5.1", true, DeviceProtocol::Onvif),
        Device("e5-refused", "NVR-1600", "", false),
    };
    // The first device failed as not seen again, then came back: upgraded. The MAC of a
    // record compares in any case.
    UpgradeHistoryRecord failed = Outcome("x", rc::kNotSeenAgain, 1796700000);
    failed.DeviceId = "ID-=cmd|' /C calc'!A0";
    failed.Mac = "00:11:22:33:44:=C";
    UpgradeHistoryRecord late = failed;
    late.Time = 1796703600;
    late.Code = rc::kReturnedLate;
    UpgradeHistoryRecord older = Outcome("b2-current", 0, 1796600000);
    older.Mac = "00:11:22:33:44:B2";
    const std::vector<InventoryRow> rows =
        BuildInventory(devices, SiteStore(), {older, failed, late});

    struct Expected {
        const char* Newest;
        const char* State;
        const char* Last;
    };
    const Expected expected[] = {{"2.0.0", "newer available", "upgraded"},
                                 {"2.0.0", "up to date", "upgraded"},
                                 {"", "up to date", ""},
                                 {"not known", "up to date", ""},
                                 {"2.0.0", "not checked", ""}};
    ASSERT_EQ(rows.size(), std::size(expected));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].Name);
        EXPECT_EQ(rows[i].Newest, expected[i].Newest);
        EXPECT_EQ(InventoryStateWord(rows[i].State), std::string(expected[i].State));
        EXPECT_EQ(rows[i].LastOutcome, expected[i].Last);
    }
    EXPECT_EQ(rows[0].LastTime, late.Time);
    EXPECT_EQ(InventorySummary(rows),
              "5 devices: 3 up to date, 1 with newer firmware, 1 not checked");

    const auto csv = ParseCsv(InventoryCsv(rows));
    ASSERT_EQ(csv.size(), 6u);
    EXPECT_EQ(csv[0][8], "State");
    EXPECT_EQ(csv[1][0], "'=cmd|' /C calc'!A0");
    EXPECT_EQ(csv[1][8], "newer available");
    EXPECT_EQ(csv[5][8], "not checked");
    const std::string page = InventoryHtml(rows, "2026-12-10 12:00");
    EXPECT_NE(page.find("5 devices: 3 up to date, 1 with newer firmware, 1 not checked"),
              std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos);
}

}  // namespace
