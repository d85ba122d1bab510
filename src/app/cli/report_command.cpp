#include "app/cli/report_command.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "app/cli/in_flight_check.h"
#include "app/cli/schedule_time_text.h"
#include "app/cli/terminal.h"
#include "history/history_file.h"
#include "history/history_report.h"
#include "history/upgrade_history.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli report [--since DATE] [--until DATE] [--format csv|html]\n"
    "                            [--history FILE]\n"
    "\n"
    "Prints the handover report of the upgrade history: every final outcome of an\n"
    "upgrade (command line, schedule or desktop program) with the time, the device, its\n"
    "model, MAC address and address, the version before and after, the result and the\n"
    "image file with its MD5 (of the whole file, as md5sum prints it). A device that did\n"
    "not come back in time but was later seen back with its new firmware is shown as\n"
    "upgraded, \"returned late\", in place of that failure.\n"
    "\n"
    "Devices that an interrupted upgrade left unconfirmed (-11) are looked at once first\n"
    "(user \"admin\", the default password) and their outcome amended: back with new\n"
    "firmware, upgraded; with the old one from the store, -408; else still -11.\n"
    "\n"
    "--since DATE    only outcomes from DATE on (local time: YYYY-MM-DD, or with HH:MM\n"
    "                or HH:MM:SS after a space or a T; or seconds since 1970)\n"
    "--until DATE    only outcomes up to DATE; a date alone takes in that whole day\n"
    "--format F      csv (default): for spreadsheets; html: one page with a summary and a\n"
    "                table, to open in a browser and print or save as PDF\n"
    "--history FILE  read this history instead of the user's\n"
    "\n"
    "The history is $XDG_STATE_HOME/strelvane/history.tsv (default\n"
    "~/.local/state/strelvane/history.tsv).\n";

// A local date with or without its time of day; a date alone means its first second,
// or its last with `endOfDay`. Nothing when the text is not one.
std::optional<int64_t> ParseReportDate(const std::string& text, bool endOfDay) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    if (text.size() == 10)
        return ParseUpgradeTime(text + (endOfDay ? " 23:59:59" : " 00:00:00"), 0);
    return ParseUpgradeTime(text, 0);
}

// A report read on a terminal shows the device texts as the terminal views do: the file
// keeps them whole, but a carriage return or an escape sequence there would act.
void CleanForTerminal(UpgradeHistoryRecord& r) {
    for (std::string* text :
         {&r.DeviceId, &r.DeviceName, &r.Model, &r.Mac, &r.Address, &r.VersionBefore,
          &r.VersionAfter, &r.ResultText, &r.ImageFile, &r.ImageMd5}) {
        *text = Printable(*text);
    }
}

}  // namespace

int RunReport(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--since", OptionKind::Single},
                                  {"--until", OptionKind::Single},
                                  {"--format", OptionKind::Single},
                                  {"--history", OptionKind::Single},
                                  {"--help", OptionKind::Flag}},
                                 error);
    if (!parsed) return BadArguments("report", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parsed->Positional().empty()) {
        return BadArguments("report", "unexpected argument '" + parsed->Positional()[0] + "'");
    }
    const std::string format = parsed->Value("--format", "csv");
    if (format != "csv" && format != "html")
        return BadArguments("report", "--format is csv or html");
    ReportHeading heading;
    int64_t since = INT64_MIN;
    int64_t until = INT64_MAX;
    if (parsed->Has("--since")) {
        heading.Since = parsed->Value("--since");
        std::optional<int64_t> time = ParseReportDate(heading.Since, false);
        if (!time) return BadArguments("report", "--since needs a date such as 2026-12-09");
        since = *time;
    }
    if (parsed->Has("--until")) {
        heading.Until = parsed->Value("--until");
        std::optional<int64_t> time = ParseReportDate(heading.Until, true);
        if (!time) return BadArguments("report", "--until needs a date such as 2026-12-09");
        until = *time;
    }

    const std::string path = parsed->Value("--history", DefaultHistoryFile());
    ReviewCutShortUpgrades("report", path, kDefaultDevicePassword);
    int skipped = 0;
    std::string problem;
    std::vector<UpgradeHistoryRecord> records;
    // A late return is shown in place of the failure it amends.
    for (UpgradeHistoryRecord& r : AmendLateReturns(ReadHistory(path, &skipped, &problem))) {
        if (r.Time >= since && r.Time <= until) records.push_back(std::move(r));
    }
    if (!problem.empty()) {
        PrintError("strelvane-cli report: cannot read " + path + ": " + problem);
        return kExitFailed;
    }
    if (skipped > 0) {
        PrintError("strelvane-cli report: " + std::to_string(skipped) + " damaged line(s) of " +
                   path + " left out");
    }
    if (::isatty(STDOUT_FILENO) == 1) {
        for (UpgradeHistoryRecord& r : records) CleanForTerminal(r);
    }
    heading.MadeAt = LocalTimeText(WallClockNow());
    const std::string text = format == "csv" ? HistoryCsv(records) : HistoryHtml(records, heading);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}
