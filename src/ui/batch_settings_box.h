#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include "ui/skin_group_box.h"

class CLayoutTexts;
class CSettings;

// The Setting page's guards for a batch of upgrades: the check box "Upgrade one device
// of each model first" and the number of failed devices after which no further upload
// starts (0: no limit). Each change is stored in the settings at once; the upgrade page
// reads them when an upgrade starts.
class CBatchSettingsBox {
public:
    // The controls are children of `page`; `settings` must outlive them.
    CBatchSettingsBox(QWidget& page, CSettings& settings);

    // Texts and places from the layout file ([SettingPage] and [SettingPage.Style]).
    void ReloadTexts(CLayoutTexts& texts);

    QCheckBox& FirstOfEachModel() { return firstOfEachModel_; }
    QSpinBox& MaxFailures() { return maxFailures_; }

private:
    CSettings& settings_;
    CSkinGroupBox group_;
    QCheckBox firstOfEachModel_;
    QLabel maxFailuresLabel_;
    QSpinBox maxFailures_;
};
