#include "ui/batch_settings_box.h"

#include <string>

#include "layout/layout_texts.h"
#include "settings/settings.h"
#include "ui/page.h"
#include "ui/skin.h"

namespace {
constexpr const char* kStyleSection = "SettingPage.Style";
// Far beyond a site's devices.
constexpr int kMostFailures = 999;
}  // namespace

CBatchSettingsBox::CBatchSettingsBox(QWidget& page, CSettings& settings)
    : settings_(settings),
      group_(&page),
      firstOfEachModel_(&page),
      maxFailuresLabel_(&page),
      maxFailures_(&page) {
    maxFailures_.setRange(0, kMostFailures);
    maxFailuresLabel_.setBuddy(&maxFailures_);
    skin::SetTextColour(maxFailuresLabel_, skin::kCaption);
    // Set once: afterwards the controls keep what the user chose, also across reloads.
    firstOfEachModel_.setChecked(settings_.FirstOfEachModel());
    maxFailures_.setValue(std::min(settings_.MaxFailures(), kMostFailures));
    // toggled, not clicked: a screen reader's press action emits only toggled.
    QObject::connect(&firstOfEachModel_, &QCheckBox::toggled, &firstOfEachModel_, [this](bool on) {
        settings_.SaveSetting("FirstOfEachModel", on ? "1" : "0");
    });
    QObject::connect(&maxFailures_, &QSpinBox::valueChanged, &maxFailures_, [this](int count) {
        settings_.SaveSetting("MaxFailures", std::to_string(count));
    });
}

void CBatchSettingsBox::ReloadTexts(CLayoutTexts& texts) {
    auto place = [&](QWidget& control, const char* key, const char* def) {
        const ControlStyle style = texts.ReadControlStyle(kStyleSection, key, def);
        ApplyControlStyle(control, style, key);
        return ToQString(style);
    };
    group_.SetCaption(place(group_, "BatchGroup", "Upgrade batches"), skin::kCaption);
    firstOfEachModel_.setText(place(firstOfEachModel_, "FirstOfEachModelCheckBox",
                                    "Upgrade one device of each model first"));
    maxFailuresLabel_.setText(place(maxFailuresLabel_, "MaxFailuresLabel",
                                    "Stop after this many failed devices (0 = no limit)"));
    place(maxFailures_, "MaxFailuresEdit", "");
}
