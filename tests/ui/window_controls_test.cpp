// The window's keys and switches as a technician without a mouse meets them: Enter in the
// device list edits a password and keeps the window (only outside lists and fields does
// it hide it), the tray's auto-start item and the Setting page's box are one switch that
// shows whether the autostart entry exists, and the popup's Schedule choice enables the
// date and time however it is made.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <memory>

#include "layout/layout_texts.h"
#include "sample_site.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/schedule_page.h"
#include "ui/settings_page.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

// The first table below `root` in the accessibility tree with this name.
QAccessibleInterface* FindTable(QAccessibleInterface* root, const QString& name) {
    if (!root) return nullptr;
    if (root->tableInterface() && root->text(QAccessible::Name) == name) return root;
    if (root->tableInterface()) return nullptr;  // a table's cells hold no tables
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface* found = FindTable(root->child(i), name)) return found;
    }
    return nullptr;
}

}  // namespace

class WindowControlsTest : public QObject {
    Q_OBJECT
public:
    explicit WindowControlsTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private:
    const UiSandbox& sandbox_;

    static void Action(QAccessibleInterface* target, const QString& name) {
        QVERIFY(target && target->actionInterface());
        QVERIFY2(target->actionInterface()->actionNames().contains(name), qPrintable(name));
        target->actionInterface()->doAction(name);
    }

    std::unique_ptr<CMainWindow> MakeWindow() {
        auto window = std::make_unique<CMainWindow>(sandbox_.Setup());
        window->show();
        QApplication::setActiveWindow(window.get());
        [&] {
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy(), 5000);
        }();
        return window;
    }

private slots:
    void enterHidesTheWindowOnlyOutsideListsAndFields() {
        auto window = MakeWindow();
        ListSampleDevices(window->UpgradePageWidget());
        CBasicListCtrl& devices = window->UpgradePageWidget().DeviceList();
        devices.setFocus();
        devices.setCurrentIndex(devices.model()->index(1, 2));

        // In the device list Enter opens the focused row's password, and the Enter that
        // ends the typing stays in the list too.
        QTest::keyClick(&devices, Qt::Key_Return);
        QVERIFY(window->isVisible());
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, "yard1");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(devices.GetField(1, 6), QString("yard1"));
        QVERIFY(window->isVisible());

        window->ShowPage(CMainWindow::kSchedulePage);
        CBasicListCtrl& schedule = window->SchedulePageWidget().List();
        schedule.setFocus();
        QTest::keyClick(&schedule, Qt::Key_Enter);
        QVERIFY(window->isVisible());

        // Anywhere else it hides the window, as Esc does; another start brings it back.
        auto* tab = &window->TabButton(CMainWindow::kUpgradePage);
        tab->setFocus();
        QTest::keyClick(tab, Qt::Key_Return);
        QVERIFY(!window->isVisible());
        window->ShowFromAnotherStart();
        QVERIFY(window->isVisible());
    }

    void aReaderTicksDevicesAndTypesAPasswordOnTheUpgradePage() {
        auto window = MakeWindow();
        ListSampleDevices(window->UpgradePageWidget());
        CBasicListCtrl& devices = window->UpgradePageWidget().DeviceList();
        // From the window down, as a screen reader walks it.
        QAccessibleInterface* table =
            FindTable(QAccessible::queryAccessibleInterface(window.get()), "CameraList");
        QVERIFY(table);
        QCOMPARE(table->tableInterface()->rowCount(), 3);
        QCOMPARE(table->tableInterface()->columnDescription(6), QString("Password"));
        Action(table->tableInterface()->cellAt(1, 0), QAccessibleActionInterface::toggleAction());
        QVERIFY(devices.IsChecked(1));
        Action(table->tableInterface()->cellAt(1, 0), QAccessibleActionInterface::toggleAction());
        QVERIFY(!devices.IsChecked(1));

        QAccessibleInterface* password = table->tableInterface()->cellAt(1, 6);
        Action(password, QAccessibleActionInterface::pressAction());
        QCOMPARE(password->childCount(), 1);
        QAccessibleInterface* editor = password->child(0);
        QCOMPARE(editor->text(QAccessible::Name), QString("PasswordField"));
        editor->editableTextInterface()->insertText(0, "yard1");
        QTest::keyClick(qobject_cast<QWidget*>(editor->object()), Qt::Key_Return);
        QTRY_COMPARE(devices.GetField(1, 6), QString("yard1"));
        QVERIFY(window->isVisible());
        // The header's box ticks every row a click on it would.
        Action(table->tableInterface()->cellAt(-1, 0), QAccessibleActionInterface::pressAction());
        QVERIFY(devices.IsChecked(0) && devices.IsChecked(1) && devices.IsChecked(2));
    }

    void trayItemAndSettingBoxAreOneSwitchShowingTheEntry() {
        const QString entry = sandbox_.Path("config/autostart/strelvane.desktop");
        QFile::remove(entry);
        auto window = MakeWindow();
        QAction* trayItem = nullptr;
        for (QWidget* widget : QApplication::allWidgets()) {
            if (auto* menu = qobject_cast<QMenu*>(widget)) {
                for (QAction* action : menu->actions()) {
                    if (action->objectName() == "Menu2") trayItem = action;
                }
            }
        }
        auto* box = window->SettingsPageWidget().findChild<QCheckBox*>("AutoStartCheckBox");
        QVERIFY(trayItem && box);
        auto shown = [&] { return QList<bool>{trayItem->isChecked(), box->isChecked()}; };
        QCOMPARE(shown(), QList<bool>({false, false}));

        trayItem->trigger();
        QTRY_VERIFY(QFile::exists(entry));
        QCOMPARE(shown(), QList<bool>({true, true}));
        window->ShowPage(CMainWindow::kSettingPage);
        QTest::mouseClick(box, Qt::LeftButton);
        QTRY_VERIFY(!QFile::exists(entry));
        QCOMPARE(shown(), QList<bool>({false, false}));
        trayItem->trigger();
        QTRY_VERIFY(QFile::exists(entry));
        trayItem->trigger();
        QTRY_VERIFY(!QFile::exists(entry));
        QCOMPARE(shown(), QList<bool>({false, false}));

        // Both say what really is: an entry removed or made by another hand shows the
        // next time the menu opens or the page is shown.
        QTest::mouseClick(box, Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(entry));
        QFile::remove(entry);
        QMenu* menu = trayItem->associatedObjects().isEmpty()
                          ? nullptr
                          : qobject_cast<QMenu*>(trayItem->associatedObjects().first());
        QVERIFY(menu);
        emit menu->aboutToShow();
        QVERIFY(!trayItem->isChecked());
        window->ShowPage(CMainWindow::kUpgradePage);
        window->ShowPage(CMainWindow::kSettingPage);
        QVERIFY(!box->isChecked());
    }

    void scheduleChoiceEnablesDateAndTimeByKeyboardAndReader() {
        CLayoutTexts texts(STRELVANE_DATA_DIR, 9);
        CMessageDlg popup(texts, CMessageDlg::kWhenToUpgrade, 0, false, nullptr);
        popup.show();
        QApplication::setActiveWindow(&popup);
        QVERIFY(QTest::qWaitForWindowActive(&popup));
        auto* now = popup.findChild<QRadioButton*>("UpgradeRadioButton");
        auto* later = popup.findChild<QRadioButton*>("AddScheduleRadioButton");
        auto* date = popup.findChild<QDateEdit*>("DateCtrl");
        auto* time = popup.findChild<QDateTimeEdit*>("TimeCtrl");
        QVERIFY(now && later && date && time);
        auto enabled = [&] { return QList<bool>{date->isEnabled(), time->isEnabled()}; };
        QCOMPARE(enabled(), QList<bool>({false, false}));

        // A screen reader's Toggle action on the radio button.
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(later);
        QVERIFY(reader && reader->actionInterface());
        reader->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(later->isChecked());
        QCOMPARE(enabled(), QList<bool>({true, true}));
        QAccessible::queryAccessibleInterface(now)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QCOMPARE(enabled(), QList<bool>({false, false}));

        // The keyboard: the arrow keys move the choice.
        now->setFocus();
        QTest::keyClick(now, Qt::Key_Down);
        QVERIFY(later->isChecked());
        QCOMPARE(enabled(), QList<bool>({true, true}));
        QTest::keyClick(later, Qt::Key_Up);
        QVERIFY(now->isChecked());
        QCOMPARE(enabled(), QList<bool>({false, false}));
    }

    // In a right-to-left language the popup's date and time read as everywhere else: a
    // planned 07:05:09 never shows as 09:05:07.
    void dateAndTimeKeepTheirOrderRightToLeft() {
        QApplication::setLayoutDirection(Qt::RightToLeft);
        CLayoutTexts texts(STRELVANE_DATA_DIR, 9);
        const QDateTime moment(QDate(2026, 12, 10), QTime(7, 5, 9));
        CMessageDlg popup(texts, CMessageDlg::kEditSchedule, moment.toSecsSinceEpoch(), true,
                          nullptr);
        QApplication::setLayoutDirection(Qt::LeftToRight);
        auto* date = popup.findChild<QDateEdit*>("DateCtrl");
        auto* time = popup.findChild<QDateTimeEdit*>("TimeCtrl");
        QVERIFY(date && time);
        QCOMPARE(time->text(), QString("07:05:09"));
        QCOMPARE(date->text(), date->locale().toString(moment.date(), QLocale::ShortFormat));
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QApplication app(argc, argv);
    // As with a screen reader attached: the views send their change and focus events.
    QAccessible::setActive(true);
    WindowControlsTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "window_controls_test.moc"
