// The list control: check-all, the check-change rule, sorting, the password cell, and
// what keyboard and screen-reader users reach (Enter, the accessible table's actions).
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ui/list_ctrl.h"
#include "ui/list_rules.h"

namespace {

// A device-list row as the upgrade page builds it: check, number, name, address,
// password, then the hidden key and states.
int AddDevice(CBasicListCtrl& list, const QString& name, const QString& address,
              const QString& state = "0") {
    const int row = list.InsertRow(14, "0");
    list.AddField(row, 1, QString::number(row + 1));
    list.AddField(row, 2, name);
    list.AddField(row, 3, address);
    list.AddField(row, 6, "");
    list.AddHiddenField(row, 4, "key-" + name);
    list.AddHiddenField(row, 15, state);
    list.AddHiddenField(row, 16, "0");
    return row;
}

QStringList Column(CBasicListCtrl& list, int column) {
    QStringList texts;
    for (int r = 0; r < list.RowCount(); ++r) {
        texts << list.model()->index(r, column).data().toString();
    }
    return texts;
}

bool ClickCheck(CBasicListCtrl& list, int row, Qt::CheckState state) {
    return list.model()->setData(list.model()->index(row, 0), state, Qt::CheckStateRole);
}

// The first interface in the accessibility tree below `root` with this name.
QAccessibleInterface* FindInTree(QAccessibleInterface* root, const QString& name) {
    if (!root) return nullptr;
    if (root->text(QAccessible::Name) == name) return root;
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface* found = FindInTree(root->child(i), name)) return found;
    }
    return nullptr;
}

// Stands for the main window: counts the Enter keys that reach it.
class EnterCounter final : public QWidget {
public:
    int Enters = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) ++Enters;
        QWidget::keyPressEvent(event);
    }
};

}  // namespace

class ListCtrlTest : public QObject {
    Q_OBJECT
private slots:
    void HeaderChecksAllCheckableRowsThenClearsThem() {
        CCameraListCtrl list;
        list.SetRules(DeviceRowMayTick, DeviceCellColours);
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {40, 50, 150, 150, 200});
        for (const char* name : {"a", "b", "c", "grey"}) AddDevice(list, name, "10.0.0.1");
        list.SetField(0, 14, "1");
        list.SetField(2, 14, "1");
        list.SetCheckable(3, false);
        QSignalSpy headerSpy(&list, &CBasicListCtrl::HeaderCheckClicked);
        auto headerBox = [&list] {
            return list.model()->headerData(0, Qt::Horizontal, Qt::CheckStateRole);
        };
        QCOMPARE(headerBox(), QVariant(Qt::Unchecked));

        list.HeaderClicked(0);
        QCOMPARE(headerBox(), QVariant(Qt::Checked));  // the grey row does not count
        QCOMPARE(QList<bool>(
                     {list.IsChecked(0), list.IsChecked(1), list.IsChecked(2), list.IsChecked(3)}),
                 QList<bool>({true, true, true, false}));
        list.HeaderClicked(0);
        QCOMPARE(QList<bool>({list.IsChecked(0), list.IsChecked(1), list.IsChecked(2)}),
                 QList<bool>({false, false, false}));
        QCOMPARE(headerSpy.count(), 2);
        QCOMPARE(headerBox(), QVariant(Qt::Unchecked));
        // A row whose first field is not the check box makes no check column.
        CCameraListCtrl plain;
        plain.SetColumns({"No", "Name"}, {});
        plain.InsertRow(1, "1");
        plain.HeaderClicked(0);
        QCOMPARE(headerSpy.count(), 2);
        QVERIFY(!plain.model()->headerData(0, Qt::Horizontal, Qt::CheckStateRole).isValid());
        // The row that cannot be chosen keeps its box, is drawn grey and takes no click.
        QVERIFY(!(list.model()->flags(list.model()->index(3, 0)) & Qt::ItemIsUserCheckable));
        QCOMPARE(list.model()->index(3, 2).data(Qt::BackgroundRole).value<QColor>(),
                 QColor(192, 192, 192));
        QVERIFY(!ClickCheck(list, 3, Qt::Checked));
    }

    void CheckChangeFollowsThePagesRule() {
        // The device list's: a row is ticked only while no password is remembered and the
        // device is reachable.
        CCameraListCtrl list;
        list.SetRules(DeviceRowMayTick, DeviceCellColours);
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {});
        AddDevice(list, "free", "10.0.0.1", "0");
        AddDevice(list, "remembered", "10.0.0.2", "1");
        AddDevice(list, "unreachable", "10.0.0.3", "2");
        // The schedule list's: any row but one whose device is being uploaded to.
        CCameraListCtrl schedule;
        schedule.SetRules(ScheduleRowMayTick, ScheduleCellColours);
        schedule.SetColumns({"", "No", "Name", "Address", "Password"}, {});
        AddDevice(schedule, "scheduled", "10.0.0.4", "5");
        AddDevice(schedule, "locked", "10.0.0.5", "3");
        QSignalSpy spy(&list, &CBasicListCtrl::CheckChanged);
        QSignalSpy scheduleSpy(&schedule, &CBasicListCtrl::CheckChanged);

        for (CCameraListCtrl* l : {&list, &schedule}) {
            for (int row = 0; row < l->RowCount(); ++row) ClickCheck(*l, row, Qt::Checked);
        }
        QCOMPARE(QList<bool>({list.IsChecked(0), list.IsChecked(1), list.IsChecked(2),
                              schedule.IsChecked(0), schedule.IsChecked(1)}),
                 QList<bool>({true, false, false, true, false}));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(scheduleSpy.count(), 1);
        QCOMPARE(scheduleSpy.at(0).at(0).toInt(), 0);
        QCOMPARE(list.model()->index(1, 2).data(Qt::BackgroundRole).value<QColor>(),
                 QColor(254, 144, 3));
        // Without a rule every change stands.
        CCameraListCtrl plain;
        plain.SetColumns({"", "No"}, {});
        AddDevice(plain, "any", "10.0.0.6", "2");
        QVERIFY(ClickCheck(plain, 0, Qt::Checked));
        QVERIFY(plain.IsChecked(0));
    }

    void SortingComparesByFieldAndRenumbers() {
        CCameraListCtrl list;
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {});
        AddDevice(list, "b", "10.0.0.10:80");
        AddDevice(list, "c", "10.0.0.9:8080");
        AddDevice(list, "a", "9.200.0.1");

        list.HeaderClicked(3);  // first click: ascending
        QCOMPARE(Column(list, 3), QStringList({"9.200.0.1", "10.0.0.9:8080", "10.0.0.10:80"}));
        QCOMPARE(Column(list, 1), QStringList({"1", "2", "3"}));
        QCOMPARE(list.GetField(0, 4), QString("key-a"));  // hidden fields go with their row
        list.HeaderClicked(3);
        QCOMPARE(Column(list, 3), QStringList({"10.0.0.10:80", "10.0.0.9:8080", "9.200.0.1"}));

        // The number column compares equal: any number of clicks keeps the order.
        for (int click = 0; click < 3; ++click) list.HeaderClicked(1);
        QCOMPARE(Column(list, 2), QStringList({"b", "c", "a"}));
        list.HeaderClicked(2);
        QCOMPARE(Column(list, 2), QStringList({"c", "b", "a"}));
        QCOMPARE(list.FindRow(2, "a"), 2);
        QCOMPARE(list.FindRow(2, "z"), -1);
    }

    void ColumnsTooWideForTheListShrinkUntilEveryOneShows() {
        CCameraListCtrl list;
        list.resize(850, 262);
        list.SetColumns({"", "No", "Name", "Model", "Address", "Version", "Password"},
                        {40, 50, 150, 150, 150, 200, 200});
        list.SetFonts("Arial");
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const int last = list.model()->columnCount() - 1;
        const int right = list.columnViewportPosition(last) + list.columnWidth(last);
        QVERIFY2(right <= list.viewport()->width(), qPrintable(QString::number(right)));
        QVERIFY(list.columnWidth(1) < 50 && list.columnWidth(6) > 100);
        // The rows take the language's face; the header keeps the default one.
        QCOMPARE(list.font().family(), QString("Arial"));
        QCOMPARE(list.horizontalHeader()->font(), QApplication::font());
        // Widths that fit are kept as asked.
        list.SetColumns({"No", "Name"}, {50, 150});
        QCOMPARE(list.columnWidth(0), 50);
        // A list that scrolls sideways keeps every width.
        list.SetColumns({"No", "Name"}, {500, 600}, CBasicListCtrl::Fit::Scroll);
        QCOMPARE(list.columnWidth(1), 600);
    }

    void PasswordCellShowsItsPromptTakesTypingAndPasses() {
        CCameraListCtrl list;
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {40, 50, 150, 150, 200});
        list.SetPromptText("<Enter password>");
        list.SetPassText("Passed");
        AddDevice(list, "a", "10.0.0.1");
        QSignalSpy typed(&list, &CBasicListCtrl::PasswordTyped);
        const QModelIndex cell = list.model()->index(0, 4);
        QCOMPARE(cell.data().toString(), QString("<Enter password>"));
        QCOMPARE(list.GetField(0, 6), QString());

        list.show();
        QApplication::setActiveWindow(&list);
        QVERIFY(QTest::qWaitForWindowActive(&list));
        list.edit(cell);
        auto* editor = list.findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->echoMode(), QLineEdit::Password);
        QTest::keyClicks(editor, "s3cret");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(typed.count(), 1);  // the editor commits through a queued call
        QCOMPARE(list.GetField(0, 6), QString("s3cret"));
        QVERIFY(cell.data().toString() != "s3cret");  // never shown as typed

        list.SetPasswordPassed(0);
        QCOMPARE(cell.data().toString(), QString("Passed"));
        QVERIFY(!(list.model()->flags(cell) & Qt::ItemIsEditable));
        // A row that is not shown as a cell is hidden: no more columns than headings.
        QVERIFY(!list.AddHiddenField(0, 4, "again"));
        QCOMPARE(list.model()->columnCount(), 5);
    }

    void screenReaderTicksRowsAndTypesPasswords() {
        EnterCounter window;
        CCameraListCtrl list(&window);
        list.resize(600, 200);
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {40, 50, 150, 150, 200});
        list.SetPromptText("<Enter password>");
        AddDevice(list, "a", "10.0.0.1");
        AddDevice(list, "b", "10.0.0.2");
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy ticked(&list, &CBasicListCtrl::CheckChanged);
        QSignalSpy typed(&list, &CBasicListCtrl::PasswordTyped);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&list);
        QVERIFY(table && table->tableInterface());

        // The check box cell's Toggle ticks the row, and again unticks it.
        QAccessibleInterface* box = table->tableInterface()->cellAt(1, 0);
        QVERIFY(box && box->actionInterface());
        QVERIFY(box->state().checkable);
        box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(list.IsChecked(1));
        QVERIFY(box->state().checked);
        QCOMPARE(ticked.count(), 1);
        box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(!list.IsChecked(1));
        QVERIFY(!list.IsChecked(0));

        // The password cell's Press opens its editor, which is then in the tree by its
        // name and takes text; Enter commits it and stays inside the list.
        QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 4);
        QVERIFY(cell && cell->actionInterface());
        QCOMPARE(cell->text(QAccessible::Name), QString("<Enter password>"));
        QVERIFY(cell->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
        cell->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QAccessibleInterface* editor = FindInTree(table, "PasswordField");
        QVERIFY(editor && editor->editableTextInterface());
        QCOMPARE(cell->child(0), editor);
        editor->editableTextInterface()->insertText(0, "s3cret");
        auto* line = qobject_cast<QLineEdit*>(editor->object());
        QVERIFY(line && line->hasFocus());
        QTest::keyClick(line, Qt::Key_Return);
        QTRY_COMPARE(typed.count(), 1);
        QCOMPARE(list.GetField(0, 6), QString("s3cret"));
        QCOMPARE(cell->text(QAccessible::Name), QString(6, QChar(0x2022)));  // never read out
        QCOMPARE(window.Enters, 0);
    }

    void enterEditsTheFocusedRowsPasswordAndNeverLeavesTheList() {
        EnterCounter window;
        CCameraListCtrl list(&window);
        list.resize(600, 200);
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {40, 50, 150, 150, 200});
        AddDevice(list, "a", "10.0.0.1");
        AddDevice(list, "b", "10.0.0.2");
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy typed(&list, &CBasicListCtrl::PasswordTyped);
        list.setFocus();
        list.setCurrentIndex(list.model()->index(1, 2));

        QTest::keyClick(&list, Qt::Key_Return);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->accessibleName(), QString("PasswordField"));
        QTest::keyClicks(editor, "yard1");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(typed.count(), 1);
        QCOMPARE(typed.at(0).at(0).toInt(), 1);
        QCOMPARE(list.GetField(1, 6), QString("yard1"));
        // A row whose password has passed has nothing to edit: Enter still stays here.
        list.SetPasswordPassed(0);
        list.setCurrentIndex(list.model()->index(0, 1));
        QTest::keyClick(&list, Qt::Key_Enter);
        QCOMPARE(window.Enters, 0);
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ListCtrlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "list_ctrl_test.moc"
