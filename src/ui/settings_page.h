#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "ui/batch_settings_box.h"
#include "ui/page.h"
#include "ui/skin_group_box.h"

class CSettings;

// The languages the Setting page offers, in the order of its list: the [Language] key
// of the entry's text and its language identifier.
struct LanguageChoice {
    const char* Key;
    const char* DefaultText;
    int LanguageId;
};
extern const LanguageChoice kLanguageChoices[8];

// The list index of a language; 0 (English) for a language not in the list.
int LanguageIndexOf(int languageId);

// The Setting page: the language box, the guards of an upgrade batch, and the automatic
// start at log-on.
class CSettingsPage final : public CPage {
    Q_OBJECT
public:
    CSettingsPage(IMainFrame& frame, CSettings& settings, QWidget* parent);

    void ReloadTexts() override;

    // The user confirmed list entry `index`: stores LangID, which switches every page.
    void ChooseLanguage(int index);

private:
    CSettings& settings_;
    CSkinGroupBox group_;
    QComboBox languages_;
    QCheckBox autoStart_;
    QLabel autoStartLabel_;
    CBatchSettingsBox batch_;
};
