#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "device/upgrade_progress.h"
#include "layout/control_style.h"
#include "layout/layout_language.h"
#include "layout/profile_text.h"

// The program's user-visible texts and control styles: the layout file of the current
// language in the program folder, with the built-in default of every text for anything
// the file (or the file itself) lacks. Texts are looked up anew on every read; an
// unchanged file is parsed only once. Safe to use from any thread.
class CLayoutTexts {
public:
    using FileExists = std::function<bool(const std::string&)>;

    CLayoutTexts(std::string programFolder, int languageId, FileExists fileExists = {});

    // Records which private font files could be added, and recomputes the font choice.
    void SetFontsAdded(bool msGothic, bool sourceHanSans);

    // A language switch: stores the identifier and recomputes the font choice.
    void SetLanguage(int languageId);

    int LanguageId() const;
    int FontChoice() const;
    // On while the Hebrew layout file is the one in use.
    bool RightToLeft() const;

    // The layout file of the current language. When it is missing, the English file, and
    // the language becomes 9 (the font choice stays until the next SetLanguage).
    std::string GetLayoutFilePath();

    // section/key of the layout file, else `def`; at most 1023 characters.
    std::string ReadLayoutText(std::string_view section, std::string_view key,
                               std::string_view def);

    // The style of control `key` from `styleSection` (e.g. "Main.Style"), and its text
    // from the matching text section ("Main"); `def` is the default of both.
    ControlStyle ReadControlStyle(std::string_view styleSection, std::string_view key,
                                  std::string_view def);

    // A TextLookup reading from this object, which must outlive it.
    TextLookup Lookup();

    // The texts asked for that the layout file in use lacks ("Layout_JP.ini [section] key"),
    // each once: their built-in defaults were shown. Empty while every file is complete.
    std::set<std::string> MissingKeys() const;

private:
    std::string Read(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view def);

    const std::string programFolder_;
    const FileExists fileExists_;
    CProfileCache cache_;
    mutable std::mutex mutex_;
    int languageId_;
    bool msGothicAdded_ = false;
    bool sourceHanSansAdded_ = false;
    int fontChoice_;
    bool rightToLeft_ = false;
    std::set<std::string> missing_;
};
