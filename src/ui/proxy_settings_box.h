#pragma once

#include <QLabel>
#include <QLineEdit>
#include <functional>

#include "ui/skin_button.h"
#include "ui/skin_group_box.h"
#include "web/server_proxy.h"

class CLayoutTexts;
class CSettings;

// The Setting page's proxy to the firmware server: address, user and password, and a
// Use button. Address and user are stored machine-wide (Proxy, ProxyUser) when the
// machine-wide file may be written; the password never is: this system has no keyring,
// so it is kept until the program ends, which the box says. Devices never go through it.
class CProxySettingsBox {
public:
    // The controls are children of `page`; `settings` must outlive them. `apply` gets the
    // proxy to use from now on (at once with what the settings hold, then on each Use).
    CProxySettingsBox(QWidget& page, CSettings& settings);
    void SetApplier(std::function<void(const ServerProxy&)> apply);

    void ReloadTexts(CLayoutTexts& texts);

    // The Use button: stores address and user and hands the proxy on.
    void Use();

    QLineEdit& Address() { return address_; }
    QLineEdit& User() { return user_; }
    QLineEdit& Password() { return password_; }
    QLabel& Note() { return note_; }

private:
    void ShowNote();

    CSettings& settings_;
    CLayoutTexts* texts_ = nullptr;
    std::function<void(const ServerProxy&)> apply_;
    CSkinGroupBox group_;
    QLabel addressLabel_;
    QLineEdit address_;
    QLabel userLabel_;
    QLineEdit user_;
    QLabel passwordLabel_;
    QLineEdit password_;
    QLabel note_;
    CSkinButton use_;
    bool stored_ = true;  // the last Use could write the machine-wide settings
};
