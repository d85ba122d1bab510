#include "ui/tray.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include "layout/layout_texts.h"
#include "ui/qt_text.h"

CTray::CTray(const QIcon& icon, QObject* parent) : QObject(parent) {
    show_ = menu_.addAction(QString());
    autoStart_ = menu_.addAction(QString());
    autoStart_->setCheckable(true);
    exit_ = menu_.addAction(QString());
    show_->setObjectName("Menu1");
    autoStart_->setObjectName("Menu2");
    exit_->setObjectName("Menu3");
    connect(show_, &QAction::triggered, this, &CTray::ShowRequested);
    connect(autoStart_, &QAction::triggered, this, &CTray::AutoStartToggled);
    connect(exit_, &QAction::triggered, this, &CTray::ExitRequested);
    // The entry may have been made or removed by another hand since.
    connect(&menu_, &QMenu::aboutToShow, this, &CTray::ShowAutoStart);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    icon_ = std::make_unique<QSystemTrayIcon>(icon);
    icon_->setContextMenu(&menu_);
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit ShowRequested();
                }
            });
    icon_->show();
}

void CTray::SetAutoStartProbe(std::function<bool()> autoStartOn) {
    autoStartOn_ = std::move(autoStartOn);
    ShowAutoStart();
}

void CTray::ShowAutoStart() { autoStart_->setChecked(autoStartOn_ && autoStartOn_()); }

void CTray::ReloadTexts(CLayoutTexts& texts) {
    show_->setText(ToQ(texts.ReadLayoutText("TrayMenu", "Menu1", "Show Main Window")));
    autoStart_->setText(
        ToQ(texts.ReadLayoutText("TrayMenu", "Menu2", "Automatic start when system startup")));
    exit_->setText(ToQ(texts.ReadLayoutText("TrayMenu", "Menu3", "Exit")));
    if (icon_) icon_->setToolTip(ToQ(texts.ReadLayoutText("TrayMenu", "Tip", "Strelvane")));
}

namespace {

// Desktop notification services read a body as markup: a text from a device or the
// firmware server (a series name) must not bring a link or an image with it.
QString NotificationBody(QString text) {
    return text.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
}

// The desktop's notification service, where notification areas hand their messages too.
// Sent without waiting for an answer; false without a session bus.
bool NotifyDesktop(const QString& title, const QString& text, int milliseconds) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QStringLiteral("Strelvane") << 0u << QStringLiteral("dialog-information") << title
         << NotificationBody(text) << QStringList() << QVariantMap() << milliseconds;
    return bus.send(call);
}

}  // namespace

void CTray::ShowBalloon(const QString& title, const QString& text, int milliseconds) {
    // Qt's own balloon only where no session bus carries the notice: it shows plain text.
    if (!NotifyDesktop(title, text, milliseconds) && icon_ && QSystemTrayIcon::supportsMessages()) {
        icon_->showMessage(title, text, QSystemTrayIcon::Information, milliseconds);
    }
    emit BalloonShown(title, text);
}
