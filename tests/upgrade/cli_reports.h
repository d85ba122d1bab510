#pragma once

// strelvane-cli upgrade as the lab tests run it, and its JSON lines as they read them.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "support/child_process.h"
#include "support/lab_network.h"

// The value of `key` in a JSON line of strelvane-cli: a number, or a string without
// escapes (all the tests read).
inline std::string Field(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const size_t at = line.find(marker);
    if (at == std::string::npos) return {};
    size_t start = at + marker.size();
    if (line[start] == '"') return line.substr(start + 1, line.find('"', start + 1) - start - 1);
    return line.substr(start, line.find_first_of(",}", start) - start);
}

struct Report {
    std::string DeviceId;
    int Stage = 0;
    int Seconds = 0;
    int Code = 0;
    std::string Text;
    std::string FirmwareVersion;  // final lines only
    std::string HostAddress;      // final lines only
};

inline std::vector<Report> ReadReports(ChildProcess& cli, std::chrono::milliseconds limit) {
    std::vector<Report> reports;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        auto line = cli.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        reports.push_back(
            {Field(*line, "DeviceId"), static_cast<int>(ParseDecimal(Field(*line, "stage"))),
             static_cast<int>(ParseDecimal(Field(*line, "seconds"))),
             static_cast<int>(ParseDecimal(Field(*line, "code"))), Field(*line, "text"),
             Field(*line, "FirmwareVersion"), Field(*line, "HostAddress")});
    }
    return reports;
}

inline std::map<std::string, Report> Finals(const std::vector<Report>& reports) {
    std::map<std::string, Report> finals;
    for (const Report& r : reports) {
        if (r.Stage == 32) finals[r.DeviceId] = r;
    }
    return finals;
}

// strelvane-cli upgrade run in the technician's namespace with `words` after "upgrade".
inline std::vector<std::string> UpgradeCommand(const LabNetwork& lab,
                                               const std::vector<std::string>& words) {
    std::vector<std::string> command = lab.InTech();
    command.push_back(STRELVANE_CLI_PATH);
    command.push_back("upgrade");
    command.insert(command.end(), words.begin(), words.end());
    return command;
}
