#include "layout/layout_texts.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

TEST(LayoutTextsTest, MissingLanguageFileFallsBackToEnglishWithLanguage9) {
    TempDir dir;
    dir.Write("Layout_EN.ini", "[Main]\nCaption=Strelvane EN\n");
    dir.Write("Layout_FR.ini", "[Main]\nCaption=Strelvane FR\n");

    CLayoutTexts french(dir.Path(), 1036);
    EXPECT_EQ(french.GetLayoutFilePath(), dir.File("Layout_FR.ini"));
    EXPECT_EQ(french.ReadLayoutText("Main", "Caption", "x"), "Strelvane FR");
    EXPECT_EQ(french.LanguageId(), 1036);

    CLayoutTexts german(dir.Path(), 7);  // no Layout_GR.ini
    EXPECT_EQ(german.ReadLayoutText("Main", "Caption", "x"), "Strelvane EN");
    EXPECT_EQ(german.LanguageId(), 9);
    EXPECT_EQ(german.GetLayoutFilePath(), dir.File("Layout_EN.ini"));

    TempDir empty;  // not even the English file: every text is its default
    CLayoutTexts bare(empty.Path(), 1036);
    EXPECT_EQ(bare.ReadLayoutText("Main", "Caption", "Strelvane"), "Strelvane");
    EXPECT_EQ(bare.LanguageId(), 9);
    ControlStyle style = bare.ReadControlStyle("Main.Style", "OkButton", "OK");
    EXPECT_EQ(style.Left + style.Top + style.Width + style.Height + style.FontSize, 0);
    EXPECT_EQ(style.Text, "OK");
}

TEST(LayoutTextsTest, RightToLeftFollowsTheHebrewFileInUse) {
    TempDir dir;
    CLayoutTexts texts(dir.Path(), 9);
    texts.GetLayoutFilePath();
    EXPECT_FALSE(texts.RightToLeft());
    texts.SetLanguage(1037);
    texts.GetLayoutFilePath();  // Layout_HEB.ini is missing: English texts, left to right
    EXPECT_FALSE(texts.RightToLeft());
    EXPECT_EQ(texts.LanguageId(), 9);
    dir.Write("Layout_HEB.ini", "[Main]\nCaption=x\n");
    texts.SetLanguage(1037);
    texts.GetLayoutFilePath();
    EXPECT_TRUE(texts.RightToLeft());
    texts.SetLanguage(9);
    texts.GetLayoutFilePath();
    EXPECT_FALSE(texts.RightToLeft());
}

TEST(LayoutTextsTest, ControlStylesSplitIntoSevenFieldsWithTheTextFromTheTextSection) {
    TempDir dir;
    dir.Write("Layout_JP.ini",
              "[Main.Style]\n"
              "OkButton=10,20,80,24,1,9, MS Gothic \n"
              "Short=5,6\n"
              "Odd=x,,30,40,0,12,Face,with,commas\n"
              "[Main]\n"
              "OkButton=OK JP\n");
    CLayoutTexts texts(dir.Path(), 17);
    texts.SetFontsAdded(true, true);
    EXPECT_EQ(texts.FontChoice(), font::kMsGothic);
    EXPECT_EQ(ChooseFont(1028, true, true), font::kSourceHanSans);
    EXPECT_EQ(ChooseFont(1028, true, false), font::kArial);

    ControlStyle ok = texts.ReadControlStyle("Main.Style", "OkButton", "OK");
    EXPECT_EQ(ok.Left, 10);
    EXPECT_EQ(ok.Top, 20);
    EXPECT_EQ(ok.Width, 80);
    EXPECT_EQ(ok.Height, 24);
    EXPECT_TRUE(ok.Bold);
    EXPECT_EQ(ok.FontSize, 9);
    EXPECT_EQ(ok.FaceName, "MS Gothic");
    EXPECT_EQ(ok.Text, "OK JP");

    ControlStyle shortStyle = texts.ReadControlStyle("Main.Style", "Short", "Short text");
    EXPECT_EQ(shortStyle.Left, 5);
    EXPECT_EQ(shortStyle.Top, 6);
    EXPECT_EQ(shortStyle.Width, 0);
    EXPECT_FALSE(shortStyle.Bold);
    EXPECT_EQ(shortStyle.FaceName, "");
    EXPECT_EQ(shortStyle.Text, "Short text");  // no key in [Main]: the default

    ControlStyle odd = texts.ReadControlStyle("Main.Style", "Odd", "");
    EXPECT_EQ(odd.Left, 0);
    EXPECT_EQ(odd.Top, 0);
    EXPECT_EQ(odd.Width, 30);
    EXPECT_EQ(odd.FontSize, 12);
    EXPECT_EQ(odd.FaceName, "Face,with,commas");

    // Japanese without its font file: every control uses Arial.
    texts.SetFontsAdded(false, true);
    EXPECT_EQ(texts.ReadControlStyle("Main.Style", "OkButton", "OK").FaceName, "Arial");
}

TEST(LayoutTextsTest, LookupAdapterFeedsStatusTexts) {
    TempDir dir;
    dir.Write("Layout_EN.ini", "[ErrorCode]\nCode_Uploading=Sending image...\n");
    CLayoutTexts texts(dir.Path(), 9);
    TextLookup lookup = texts.Lookup();
    EXPECT_EQ(StatusCellText(stage::kUploading, 0, 37, 0, lookup), "Sending image... (37%)");
    EXPECT_EQ(StatusCellText(stage::kFinished, 0, 0, -406, lookup),
              "Failed! Please check the firmware file.");
}

// Status texts are looked up from worker threads while the file may change; run under
// ThreadSanitizer to check the cache's locking.
TEST(LayoutTextsTest, LookupsFromSeveralThreadsShareTheCache) {
    TempDir dir;
    dir.Write("Layout_EN.ini", "[Main]\nCaption=one\n");
    CLayoutTexts texts(dir.Path(), 1036);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&texts] {
            for (int i = 0; i < 300; ++i) {
                std::string text = texts.ReadLayoutText("Main", "Caption", "x");
                EXPECT_TRUE(text == "one" || text == "two" || text == "x") << text;
            }
        });
    }
    for (int i = 0; i < 50; ++i) dir.Write("Layout_EN.ini", "[Main]\nCaption=two\n");
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(texts.LanguageId(), 9);
}

}  // namespace
