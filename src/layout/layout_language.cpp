#include "layout/layout_language.h"

#include "settings/language_ids.h"

namespace {

struct LanguageFile {
    int LanguageId;
    std::string_view File;
};

constexpr LanguageFile kLanguageFiles[] = {
    {2, "Layout_BGR.ini"},    {7, "Layout_GR.ini"},    {10, "Layout_SP.ini"},
    {16, "Layout_IT.ini"},    {17, "Layout_JP.ini"},   {18, "Layout_KOR.ini"},
    {25, "Layout_RU.ini"},    {26, "Layout_CRO.ini"},  {30, "Layout_TAI.ini"},
    {33, "Layout_IN.ini"},    {1028, "Layout_CH.ini"}, {1036, "Layout_FR.ini"},
    {1037, "Layout_HEB.ini"}, {2052, "Layout_CN.ini"}, {2070, "Layout_POR.ini"},
};

constexpr std::string_view kEnglishFile = "Layout_EN.ini";

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    return path + std::string(name);
}

}  // namespace

std::string_view LayoutFileName(int languageId) {
    for (const LanguageFile& entry : kLanguageFiles) {
        if (entry.LanguageId == languageId) return entry.File;
    }
    return kEnglishFile;
}

LayoutFileChoice ChooseLayoutFile(std::string_view programFolder, int languageId,
                                  const std::function<bool(const std::string&)>& fileExists) {
    LayoutFileChoice choice{JoinPath(programFolder, LayoutFileName(languageId)), languageId,
                            languageId == kRightToLeftLanguageId};
    if (!fileExists(choice.Path)) {
        choice.Path = JoinPath(programFolder, kEnglishFile);
        choice.LanguageId = kEnglishLanguageId;
    }
    return choice;
}

int ChooseFont(int languageId, bool msGothicAdded, bool sourceHanSansAdded) {
    if (languageId == kJapaneseLanguageId) return msGothicAdded ? font::kMsGothic : font::kArial;
    return sourceHanSansAdded ? font::kSourceHanSans : font::kArial;
}

std::string_view FontFaceName(int fontChoice) {
    switch (fontChoice) {
        case font::kSourceHanSans:
            return "Source Han Sans Medium";
        case font::kMsGothic:
            return "MS Gothic";
        default:
            return "Arial";
    }
}
