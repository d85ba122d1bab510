#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <functional>

#include "ui/batch_settings_box.h"
#include "ui/page.h"
#include "ui/proxy_settings_box.h"
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
    // The auto-start box shows whether the autostart entry exists.
    void ShowAutoStart();
    // The proxy box hands the proxy to use to `apply` (the firmware services).
    void SetProxyApplier(std::function<void(const ServerProxy&)> apply) {
        proxy_.SetApplier(std::move(apply));
    }
    CProxySettingsBox& Proxy() { return proxy_; }

signals:
    // The box switched automatic start (the tray's item shows it too).
    void AutoStartSwitched();

protected:
    void showEvent(QShowEvent* event) override;

private:
    CSettings& settings_;
    CSkinGroupBox group_;
    QComboBox languages_;
    QCheckBox autoStart_;
    QLabel autoStartLabel_;
    CBatchSettingsBox batch_;
    CProxySettingsBox proxy_;
};
