#include "ui/settings_page.h"

#include "layout/layout_texts.h"
#include "settings/settings.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

const LanguageChoice kLanguageChoices[8] = {
    {"EN", "English", 9},
    {"CH", "Traditional Chinese", 1028},
    {"CN", "Simplified Chinese", 2052},
    {"JP", "Japanese", 17},
    {"FR", "FR", 1036},
    {"TAI", "TAI", 30},
    {"IN", "IN", 33},
    {"HEB", "HEB", 1037},
};

int LanguageIndexOf(int languageId) {
    for (int i = 0; i < 8; ++i) {
        if (kLanguageChoices[i].LanguageId == languageId) return i;
    }
    return 0;
}

CSettingsPage::CSettingsPage(IMainFrame& frame, CSettings& settings, QWidget* parent)
    : CPage(frame, "SettingPage", parent),
      settings_(settings),
      group_(this),
      languages_(this),
      autoStart_(this),
      autoStartLabel_(this),
      batch_(*this, settings),
      proxy_(*this, settings) {
    connect(&languages_, &QComboBox::activated, this, &CSettingsPage::ChooseLanguage);
    // Toggled, not clicked: a screen reader's action changes the state without a click.
    connect(&autoStart_, &QCheckBox::toggled, this, [this](bool on) {
        if (on == settings_.AutoStartEntryExists()) return;  // showing, not switching
        settings_.SetAutoStart(on);
        ShowAutoStart();
        emit AutoStartSwitched();
    });
    autoStartLabel_.setBuddy(&autoStart_);
    skin::SetTextColour(autoStartLabel_, skin::kCaption);
    ShowAutoStart();
    ReloadTexts();
}

void CSettingsPage::ReloadTexts() {
    const ControlStyle groupStyle = Place(group_, "LanguageGroup", "Change Language");
    group_.SetCaption(ToQString(groupStyle), skin::kCaption);
    Place(languages_, "LanguageComboBox", "Language");
    // The list reads a little smaller than the captions, in the same face.
    languages_.setFont(skin::ControlFont(groupStyle.FaceName, 10, false));
    const QSignalBlocker quiet(languages_);
    languages_.clear();
    for (const LanguageChoice& choice : kLanguageChoices) {
        languages_.addItem(Text("Language", choice.Key, choice.DefaultText), choice.LanguageId);
    }
    languages_.setCurrentIndex(LanguageIndexOf(frame_.Texts().LanguageId()));
    Place(autoStart_, "AutoStartCheckBox", "Auto start");
    autoStart_.setText(QString());
    autoStartLabel_.setText(ToQString(Place(autoStartLabel_, "AutoStartLabel", "Auto start")));
    batch_.ReloadTexts(frame_.Texts());
    proxy_.ReloadTexts(frame_.Texts());
    update();
}

void CSettingsPage::ShowAutoStart() {
    const QSignalBlocker quiet(autoStart_);
    autoStart_.setChecked(settings_.AutoStartEntryExists());
}

void CSettingsPage::showEvent(QShowEvent* event) {
    ShowAutoStart();
    CPage::showEvent(event);
}

void CSettingsPage::ChooseLanguage(int index) {
    frame_.BeginBusy();
    const int languageId = index >= 1 && index <= 7 ? kLanguageChoices[index].LanguageId : 9;
    settings_.SaveSetting("LangID", std::to_string(languageId));
    frame_.EndBusySoon();
}
