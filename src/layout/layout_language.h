#pragma once

#include <functional>
#include <string>
#include <string_view>

// Which layout file and which fonts belong to a language identifier (settings/).

// The layout file of a language: "Layout_EN.ini" for any language without its own.
std::string_view LayoutFileName(int languageId);

// Hebrew turns right-to-left reading order on; nothing turns it off again.
constexpr int kRightToLeftLanguageId = 1037;
constexpr int kJapaneseLanguageId = 17;

struct LayoutFileChoice {
    std::string Path;
    int LanguageId = 0;        // 9 when the language's own file is missing
    bool RightToLeft = false;  // the language asks for right-to-left order
};

// The layout file for `languageId` in `programFolder`; when that file does not exist,
// the English file (whether or not it exists) and language 9.
LayoutFileChoice ChooseLayoutFile(std::string_view programFolder, int languageId,
                                  const std::function<bool(const std::string&)>& fileExists);

// The program-wide font choice and its face names.
namespace font {
constexpr int kSourceHanSans = 0;
constexpr int kMsGothic = 1;
constexpr int kArial = 2;
}  // namespace font

// The private font files, looked for in the program folder.
constexpr std::string_view kMsGothicFontFile = "MS Gothic.ttf";
constexpr std::string_view kSourceHanSansFontFile = "SourceHanSans-Medium.ttc";

// Japanese uses MS Gothic, every other language Source Han Sans, each only when its
// font file could be added; otherwise Arial.
int ChooseFont(int languageId, bool msGothicAdded, bool sourceHanSansAdded);

std::string_view FontFaceName(int fontChoice);
