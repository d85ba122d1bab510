#include "layout/layout_texts.h"

#include "base/trace.h"
#include "settings/xdg_folders.h"

CLayoutTexts::CLayoutTexts(std::string programFolder, int languageId, FileExists fileExists)
    : programFolder_(std::move(programFolder)),
      fileExists_(fileExists ? std::move(fileExists) : FileExists(PathExists)),
      languageId_(languageId),
      fontChoice_(ChooseFont(languageId, false, false)) {}

void CLayoutTexts::SetFontsAdded(bool msGothic, bool sourceHanSans) {
    std::lock_guard lock(mutex_);
    msGothicAdded_ = msGothic;
    sourceHanSansAdded_ = sourceHanSans;
    fontChoice_ = ChooseFont(languageId_, msGothicAdded_, sourceHanSansAdded_);
}

void CLayoutTexts::SetLanguage(int languageId) {
    std::lock_guard lock(mutex_);
    languageId_ = languageId;
    fontChoice_ = ChooseFont(languageId_, msGothicAdded_, sourceHanSansAdded_);
}

int CLayoutTexts::LanguageId() const {
    std::lock_guard lock(mutex_);
    return languageId_;
}

int CLayoutTexts::FontChoice() const {
    std::lock_guard lock(mutex_);
    return fontChoice_;
}

bool CLayoutTexts::RightToLeft() const {
    std::lock_guard lock(mutex_);
    return rightToLeft_;
}

std::string CLayoutTexts::GetLayoutFilePath() {
    std::lock_guard lock(mutex_);
    LayoutFileChoice choice = ChooseLayoutFile(programFolder_, languageId_, fileExists_);
    languageId_ = choice.LanguageId;
    // Right-to-left follows the file in use: on for the Hebrew texts, off again for a
    // left-to-right language (and for the English file a missing Hebrew one falls back to).
    rightToLeft_ = choice.RightToLeft && choice.LanguageId == kRightToLeftLanguageId;
    return choice.Path;
}

std::string CLayoutTexts::Read(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view def) {
    if (std::optional<std::string> found = cache_.Find(path, section, key)) return *found;
    // Without any layout file every text is its default by design; a file that lacks a
    // key is an incomplete translation, said once per key.
    if (fileExists_(path)) {
        const std::string name = path.substr(path.rfind('/') + 1) + " [" + std::string(section) +
                                 "] " + std::string(key);
        bool first = false;
        {
            std::lock_guard lock(mutex_);
            first = missing_.insert(name).second;
        }
        if (first)
            Trace("FWStrelvane - %s lacks its text: the built-in one is shown\n", name.c_str());
    }
    return cache_.Read(path, section, key, def);
}

std::string CLayoutTexts::ReadLayoutText(std::string_view section, std::string_view key,
                                         std::string_view def) {
    return Read(GetLayoutFilePath(), section, key, def);
}

std::set<std::string> CLayoutTexts::MissingKeys() const {
    std::lock_guard lock(mutex_);
    return missing_;
}

ControlStyle CLayoutTexts::ReadControlStyle(std::string_view styleSection, std::string_view key,
                                            std::string_view def) {
    const std::string path = GetLayoutFilePath();
    ControlStyle style;
    ParseControlStyle(Read(path, styleSection, key, def), FontChoice(), style);
    style.Text = Read(path, TextSectionOf(styleSection), key, def);
    return style;
}

TextLookup CLayoutTexts::Lookup() {
    return [this](std::string_view section, std::string_view key, std::string_view def) {
        return ReadLayoutText(section, key, def);
    };
}
