// The list control: check-all, the check-change rule, sorting and the password cell.
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ui/list_ctrl.h"

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

}  // namespace

class ListCtrlTest : public QObject {
    Q_OBJECT
private slots:
    void HeaderChecksAllCheckableRowsThenClearsThem() {
        CCameraListCtrl list;
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

    void CheckChangeFollowsThePasswordStateRule() {
        CCameraListCtrl list;
        list.SetColumns({"", "No", "Name", "Address", "Password"}, {});
        AddDevice(list, "free", "10.0.0.1", "0");
        AddDevice(list, "remembered", "10.0.0.2", "1");
        AddDevice(list, "unreachable", "10.0.0.3", "2");
        const int schedule = AddDevice(list, "scheduled", "10.0.0.4", "5");
        list.SetField(schedule, 16, "9999");
        const int locked = AddDevice(list, "locked", "10.0.0.5", "3");
        list.SetField(locked, 16, "9999");
        QSignalSpy spy(&list, &CBasicListCtrl::CheckChanged);

        for (int row = 0; row < list.RowCount(); ++row) ClickCheck(list, row, Qt::Checked);
        QCOMPARE(QList<bool>({list.IsChecked(0), list.IsChecked(1), list.IsChecked(2),
                              list.IsChecked(3), list.IsChecked(4)}),
                 QList<bool>({true, false, false, true, false}));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(spy.at(1).at(0).toInt(), 3);
        QCOMPARE(list.model()->index(1, 2).data(Qt::BackgroundRole).value<QColor>(),
                 QColor(254, 144, 3));
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
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ListCtrlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "list_ctrl_test.moc"
