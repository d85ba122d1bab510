#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class CLayoutTexts;

// The notification-area icon, where the desktop has a notification area: its tool tip
// and a menu (show the window; automatic start, checked while on; Exit). Balloons go to
// the desktop's notification service (with the body's markup characters escaped), or to
// the icon's own balloon where no session bus is there; the program works the same
// without either.
class CTray : public QObject {
    Q_OBJECT
public:
    explicit CTray(const QIcon& icon, QObject* parent = nullptr);

    bool IsShown() const { return icon_ != nullptr; }

    // Reads the tool tip and the menu texts ([TrayMenu]).
    void ReloadTexts(CLayoutTexts& texts);
    // Item 2 is checked while `autoStartOn` says automatic start is on; asked again
    // whenever the menu opens.
    void SetAutoStartProbe(std::function<bool()> autoStartOn);
    void ShowAutoStart();
    void ShowBalloon(const QString& title, const QString& text, int milliseconds);

signals:
    void ShowRequested();
    void AutoStartToggled(bool on);
    void ExitRequested();
    // A balloon was asked for (and handed to the desktop).
    void BalloonShown(const QString& title, const QString& text);

private:
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::function<bool()> autoStartOn_;
    QMenu menu_;
    QAction* show_ = nullptr;
    QAction* autoStart_ = nullptr;
    QAction* exit_ = nullptr;
};
