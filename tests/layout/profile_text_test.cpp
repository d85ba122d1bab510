#include "layout/profile_text.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

std::string Utf16LeWithBom(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

TEST(ProfileTextTest, LookupsFollowThePrivateProfileRules) {
    TempDir dir;
    dir.Write("Layout_EN.ini",
              "; comment line\r\n"
              "Orphan=before any section\r\n"
              "[Main]\r\n"
              "Caption = Strelvane Tool \r\n"
              "  Ok=\"  OK  \"\r\n"
              "Cancel='Cancel'\r\n"
              "Mixed=\"not closed'\r\n"
              "Quote=\"\r\n"
              "NoValue\r\n"
              "Empty=\r\n"
              "Caption=second one\r\n"
              "[ main ]\r\n"
              "Late=only in a second Main section\r\n"
              "[Other\r\n"
              "Broken=after a broken header\r\n"
              "[ErrorCode]\r\n"
              "Code_304=a=b\r\n");
    CProfileCache cache;
    const std::string path = dir.File("Layout_EN.ini");
    auto read = [&](const char* section, const char* key) {
        return cache.Read(path, section, key, "DEF");
    };
    EXPECT_EQ(read("Main", "Caption"), "Strelvane Tool");
    EXPECT_EQ(read("MAIN", "caption"), "Strelvane Tool");
    EXPECT_EQ(read(" Main ", " Caption "), "Strelvane Tool");
    EXPECT_EQ(read("Main", "Ok"), "  OK  ");  // quotes keep the blanks inside
    EXPECT_EQ(read("Main", "Cancel"), "Cancel");
    EXPECT_EQ(read("Main", "Mixed"), "\"not closed'");
    EXPECT_EQ(read("Main", "Quote"), "\"");
    EXPECT_EQ(read("Main", "NoValue"), "DEF");
    EXPECT_EQ(read("Main", "Empty"), "");
    EXPECT_EQ(read("Main", "Late"), "DEF");  // only the first section of a name counts
    EXPECT_EQ(read("Main", "Broken"), "DEF");
    EXPECT_EQ(read("Main", "Orphan"), "DEF");
    EXPECT_EQ(read("ErrorCode", "Code_304"), "a=b");
    EXPECT_EQ(read("ErrorCode", "Code_406"), "DEF");
    EXPECT_EQ(read("Missing", "Caption"), "DEF");
    EXPECT_EQ(cache.Read(dir.File("Layout_FR.ini"), "Main", "Caption", "Strelvane"), "Strelvane");
    EXPECT_EQ(cache.Read(dir.Path(), "Main", "Caption", "a folder"), "a folder");
}

TEST(ProfileTextTest, TextsAreCutAt1023Characters) {
    TempDir dir;
    const std::string longText(1100, 'x');
    // 1022 ASCII characters, then a character outside the basic plane (two UTF-16 units).
    const std::string pairAtEnd = std::string(1022, 'y') + "\xF0\x9F\x98\x80" + "z";
    dir.Write("a.ini", "[S]\nLong=" + longText + "\nQuoted=\"" + longText + "\"\nPair=" +
                           pairAtEnd + "\nChinese=" + std::string(1030 * 3 / 3, 'c') + "\n");
    CProfileCache cache;
    EXPECT_EQ(cache.Read(dir.File("a.ini"), "S", "Long", ""), std::string(1023, 'x'));
    EXPECT_EQ(cache.Read(dir.File("a.ini"), "S", "Quoted", ""), std::string(1023, 'x'));
    EXPECT_EQ(cache.Read(dir.File("a.ini"), "S", "Pair", ""), std::string(1022, 'y'));
    EXPECT_EQ(cache.Read(dir.File("a.ini"), "S", "Missing", longText), std::string(1023, 'x'));
}

TEST(ProfileTextTest, ReadsUtf16AndUtf8WithByteOrderMark) {
    TempDir dir;
    dir.Write(
        "Layout_HEB.ini",
        Utf16LeWithBom(u"[Main]\r\nCaption=\u05E9\u05DC\u05D5\u05DD\r\nSmile=\U0001F600!\r\n"));
    dir.Write("Layout_CN.ini", "\xEF\xBB\xBF[Main]\nCaption=\xE4\xB8\xAD\xE6\x96\x87\n");
    CProfileCache cache;
    EXPECT_EQ(cache.Read(dir.File("Layout_HEB.ini"), "main", "caption", ""),
              "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D");
    EXPECT_EQ(cache.Read(dir.File("Layout_HEB.ini"), "Main", "Smile", ""), "\xF0\x9F\x98\x80!");
    EXPECT_EQ(cache.Read(dir.File("Layout_CN.ini"), "Main", "Caption", ""),
              "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(ProfileTextTest, AChangedOrRemovedFileIsReadAgain) {
    TempDir dir;
    CProfileCache cache;
    const std::string path = dir.File("Layout_EN.ini");
    dir.Write("Layout_EN.ini", "[Main]\nCaption=first\n");
    EXPECT_EQ(cache.Read(path, "Main", "Caption", "def"), "first");
    dir.Write("Layout_EN.ini", "[Main]\nCaption=second, longer\n");
    EXPECT_EQ(cache.Read(path, "Main", "Caption", "def"), "second, longer");
    // Same size, new modification time.
    dir.Write("Layout_EN.ini", "[Main]\nCaption=third!, longer\n");
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    EXPECT_EQ(cache.Read(path, "Main", "Caption", "def"), "third!, longer");
    std::filesystem::remove(path);
    EXPECT_EQ(cache.Read(path, "Main", "Caption", "def"), "def");
}

}  // namespace
