#include "ui/proxy_settings_box.h"

#include "layout/layout_texts.h"
#include "settings/settings.h"
#include "ui/page.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace {
constexpr const char* kSection = "SettingPage";
constexpr const char* kStyleSection = "SettingPage.Style";
}  // namespace

CProxySettingsBox::CProxySettingsBox(QWidget& page, CSettings& settings)
    : settings_(settings),
      group_(&page),
      addressLabel_(&page),
      address_(&page),
      userLabel_(&page),
      user_(&page),
      passwordLabel_(&page),
      password_(&page),
      note_(&page),
      use_(CSkinButton::Kind::Push, &page) {
    password_.setEchoMode(QLineEdit::Password);
    for (QLabel* label : {&addressLabel_, &userLabel_, &passwordLabel_, &note_}) {
        skin::SetTextColour(*label, skin::kCaption);
    }
    addressLabel_.setBuddy(&address_);
    userLabel_.setBuddy(&user_);
    passwordLabel_.setBuddy(&password_);
    note_.setWordWrap(true);
    address_.setText(ToQ(settings_.ReadProxyAddress()));
    user_.setText(ToQ(settings_.ReadProxyUser()));
    QObject::connect(&use_, &QAbstractButton::clicked, &use_, [this] { Use(); });
}

void CProxySettingsBox::SetApplier(std::function<void(const ServerProxy&)> apply) {
    apply_ = std::move(apply);
    if (apply_) apply_({ToStd(address_.text()), ToStd(user_.text()), ToStd(password_.text())});
}

void CProxySettingsBox::Use() {
    const ServerProxy proxy{ToStd(address_.text().trimmed()), ToStd(user_.text().trimmed()),
                            ToStd(password_.text())};
    stored_ = settings_.SaveProxy(proxy.Address, proxy.User);
    if (apply_) apply_(proxy);
    ShowNote();
}

void CProxySettingsBox::ShowNote() {
    if (!texts_) return;
    QString note = ToQ(texts_->ReadLayoutText(
        kSection, "ProxyNoteLabel",
        "No keyring on this system: the password is kept until the program ends."));
    if (!stored_) {
        note += " " + ToQ(texts_->ReadLayoutText(
                          kSection, "ProxyNotStoredText",
                          "The machine-wide settings cannot be written: the proxy is used "
                          "until the program ends."));
    }
    note_.setText(note);
}

void CProxySettingsBox::ReloadTexts(CLayoutTexts& texts) {
    texts_ = &texts;
    auto place = [&](QWidget& control, const char* key, const char* def) {
        const ControlStyle style = texts.ReadControlStyle(kStyleSection, key, def);
        ApplyControlStyle(control, style, key);
        return ToQString(style);
    };
    group_.SetCaption(place(group_, "ProxyGroup", "Proxy to the firmware server"), skin::kCaption);
    addressLabel_.setText(place(addressLabel_, "ProxyAddressLabel", "Address"));
    address_.setPlaceholderText(place(address_, "ProxyAddressEdit", "host:port"));
    userLabel_.setText(place(userLabel_, "ProxyUserLabel", "User"));
    place(user_, "ProxyUserEdit", "");
    passwordLabel_.setText(place(passwordLabel_, "ProxyPasswordLabel", "Password"));
    place(password_, "ProxyPasswordEdit", "");
    place(note_, "ProxyNoteLabel",
          "No keyring on this system: the password is kept until the program ends.");
    use_.setText(place(use_, "ProxyUseButton", "Use"));
    ShowNote();
}
