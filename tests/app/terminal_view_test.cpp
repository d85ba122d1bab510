// The terminal view's lines: they never wrap, never split a character, never lose the
// colour reset, and show what each stage means.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/cli/json_line.h"
#include "app/cli/search_command.h"
#include "app/cli/upgrade_view.h"
#include "base/text.h"
#include "base/utf16.h"
#include "device/upgrade_progress.h"
#include "visible_lines.h"

namespace {

TEST(TerminalViewTest, RowsFitTheirWidthAndSayWhereTheDeviceIs) {
    UpgradeTerminalView::Row row{"A",
                                 "Kamera \xC3\xBC"
                                 "ber Tor",
                                 "198.18.1.1"};
    struct Case {
        int Stage, Seconds, Percent, Code;
        std::string Shows;
    };
    const Case cases[] = {
        {-1, 0, 0, 0, "[--------------------]             starting"},
        {stage::kRunning, 0, 0, 0, "[--------------------]             Waiting"},
        {stage::kUploading, 0, 45, 0, "[#########-----------]  45%        uploading"},
        {stage::kRunning, 75, 80, 0, "[################----]  80% 01:15  upgrading"},
        {stage::kFinished, 0, 100, 0,
         "[####################]             Firmware upgrade successful."},
        {stage::kFinished, 0, 100, -503, "[--------------------]             The latest firmware"},
    };
    for (const Case& c : cases) {
        row.Stage = c.Stage;
        row.Seconds = c.Seconds;
        row.Percent = c.Percent;
        row.Code = c.Code;
        const std::string line = UpgradeTerminalView::RowText(row, Paint{false}, 15, 10, 200);
        EXPECT_EQ(line,
                  "Kamera \xC3\xBC"
                  "ber Tor  198.18.1.1  " +
                      c.Shows);
    }
    // Cut to the terminal: whole characters only, and a coloured line still ends its colour.
    row.Stage = stage::kFinished;
    row.Code = -406;
    for (int columns = 1; columns < 90; ++columns) {
        const std::string plain = UpgradeTerminalView::RowText(row, Paint{false}, 15, 10, columns);
        EXPECT_LE(TextColumns(plain), columns);
        EXPECT_TRUE(IsValidUtf8(plain)) << columns;
        const std::string coloured =
            UpgradeTerminalView::RowText(row, Paint{true}, 15, 10, columns);
        if (coloured.find("\x1b[") != std::string::npos) {
            EXPECT_EQ(coloured.substr(coloured.size() - 4), "\x1b[0m") << columns;
        }
    }
    EXPECT_EQ(Printable("a\x1b]0;title\x07 b\xC2\x9B"
                        "1m\xFF"),
              "a b\xEF\xBF\xBD");
}

// Names as devices on a Japanese or Korean site give them, one of any length, and a MAC
// text with escape sequences: at 80 columns each device keeps one line with every column,
// so the redraw in place lands on its own lines.
TEST(TerminalViewTest, WideAndEndlessNamesKeepOneLinePerDeviceAt80Columns) {
    std::vector<CIPCamInfo> devices(4);
    const std::string names[] = {
        "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85\xE5\x8C\x97\xE5\x8F\xA3\xE3\x82\xAB"
        "\xE3\x83\xA1\xE3\x83\xA9\xE7\xAC\xAC\xE4\xBA\x8C\xE5\x8F\xB7\xE6\xA9\x9F",
        "\xEC\x84\x9C\xEC\x9A\xB8\xEC\x97\xAD \xEC\xA3\xBC\xEC\xB0\xA8\xEC\x9E\xA5 "
        "\xEC\xB9\xB4\xEB\xA9\x94\xEB\x9D\xBC 1\xEB\xB2\x88",
        std::string(100000, 'N'), ""};
    for (size_t i = 0; i < devices.size(); ++i) {
        devices[i].DeviceId = "00:1C:A1:00:00:0" + std::to_string(i);
        devices[i].DeviceName = names[i];
        devices[i].ModelName = "NVR-1600";
        devices[i].HostAddress = "198.18.1." + std::to_string(100 + i);
        devices[i].FirmwareVersion = "2.0." + std::to_string(i);
        devices[i].LoginOk = 1;
    }
    devices[3].DeviceId = "00:1C\x1b]0;owned\x07\x1b[2J\xE2\x80\xAE";
    devices[3].DeviceName = names[0] + names[1];

    const std::vector<std::string> table = DeviceTableLines(devices, true, 80);
    ASSERT_EQ(table.size(), 5u);
    for (const char* column : {"ID", "NAME", "MODEL", "ADDRESS", "FIRMW", "LOG-IN"}) {
        EXPECT_NE(table[0].find(column), std::string::npos) << table[0];
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string& line = table[i + 1];
        EXPECT_LE(TextColumns(line), 79) << line;
        for (const std::string& cell :
             {devices[i].HostAddress + ":80", std::string("NVR-1600"), std::string(" ok")}) {
            EXPECT_NE(line.find(cell), std::string::npos) << line;
        }
    }
    EXPECT_EQ(table[4].find('\x1b'), std::string::npos);

    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = ::open_memstream(&buffer, &size);
    {
        UpgradeTerminalView view(out, true, 80);
        for (const CIPCamInfo& d : devices) view.AddDevice(d);
        view.Refresh();
        for (const CIPCamInfo& d : devices) view.Update(d.DeviceId, stage::kUploading, 0, 45, 0);
        view.Refresh();
        for (const CIPCamInfo& d : devices) {
            view.Update(d.DeviceId, stage::kFinished, 0, 100,
                        d.DeviceId == devices[1].DeviceId ? -406 : 0);
        }
        view.Finish({});
    }
    std::fclose(out);
    const std::string output(buffer, size);
    std::free(buffer);
    EXPECT_EQ(output.find("\x1b]"), std::string::npos);
    EXPECT_EQ(output.find("\x1b[2J"), std::string::npos);
    // Frames of four lines, each redrawn over the last: up four, never more.
    EXPECT_NE(output.find("\x1b[4A"), std::string::npos);
    const std::vector<std::string> lines = VisibleLines(output);
    ASSERT_GE(lines.size(), 9u);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_LE(TextColumns(lines[i]), 79) << lines[i];
        const CIPCamInfo& d = devices[i % devices.size()];
        EXPECT_NE(lines[i].find(d.HostAddress), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("["), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines.back().find("3 upgraded, 0 already up to date, 1 failed"), std::string::npos);
    EXPECT_LT(lines.back().size(), 200u) << "a name of any length is cut in the summary too";
}

TEST(TerminalViewTest, JsonLinesKeepDeviceTextsWholeButInert) {
    const std::pair<std::string, std::string> cases[] = {
        {"AA:BB\x1b[2J", "AA:BB\\u001b[2J"},
        {"a\xC2\x9B"
         "31m",
         "a\\u009b31m"},
        {"abc\xE2\x80\xAE"
         "fed",
         "abc\\u202efed"},
        {"t\xF3\xA0\x81\x81", "t\\udb40\\udc41"},
        {"line\nquote\"\\", "line\\nquote\\\"\\\\"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"},
    };
    for (const auto& [text, escaped] : cases) EXPECT_EQ(JsonEscape(text), escaped) << text;
}

}  // namespace
