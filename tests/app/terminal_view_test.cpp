// The terminal view's lines: they never wrap, never split a character, never lose the
// colour reset, and show what each stage means.
#include <gtest/gtest.h>

#include "app/cli/upgrade_view.h"
#include "base/utf16.h"
#include "upgrade/upgrade_progress.h"

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
              "a]0;title b1m\xEF\xBF\xBD");
}

}  // namespace
