// Every page in all eight languages at the window's size: every column of every list
// readable (its heading whole, a long cell elided with the whole text as its tooltip, the
// list scrolling sideways where its columns cannot share the room), and every text in
// the chosen language, the cells already on screen included.
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "firmware/download_status.h"
#include "layout/layout_texts.h"
#include "sample_site.h"
#include "schedule/scheduler.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"
#include "ui/schedule_page.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

constexpr int kLanguages[] = {9, 1028, 2052, 17, 1036, 30, 33, 1037};

void Settle(int ms = 30) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Empty when every column of `list` can be read as it is shown now; else what cannot.
QString Unreadable(CBasicListCtrl& list) {
    const QAbstractItemModel& model = *list.model();
    QHeaderView& header = *list.horizontalHeader();
    const QFontMetrics headerFont(header.font());
    const QFontMetrics cellFont(list.font());
    const int margin = list.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
    for (int column = 0; column < model.columnCount(); ++column) {
        const QString heading = model.headerData(column, Qt::Horizontal).toString();
        if (headerFont.horizontalAdvance(heading) + 2 * margin > header.sectionSize(column)) {
            return "heading \"" + heading + "\" is cut";
        }
    }
    const int room = list.viewport()->width();
    if (header.length() > room &&
        (!list.horizontalScrollBar()->isVisible() ||
         list.horizontalScrollBar()->maximum() < header.length() - room)) {
        return QString("columns %1 px wide in %2 px, not reachable").arg(header.length()).arg(room);
    }
    // A cell too narrow for its text elides it on one line; its tooltip has it whole.
    if (list.wordWrap()) return "cells wrap and are cut at their bottom";
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            const QString text = index.data().toString();
            if (cellFont.horizontalAdvance(text) + 8 <= header.sectionSize(column)) continue;
            if (index.data(Qt::ToolTipRole).toString() != text) {
                return "cell \"" + text + "\" is cut without a tooltip";
            }
        }
    }
    return {};
}

}  // namespace

class EveryLanguageTest : public QObject {
    Q_OBJECT
public:
    explicit EveryLanguageTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private:
    const UiSandbox& sandbox_;
    std::unique_ptr<CMainWindow> window_;

    CMainWindow& Window() { return *window_; }

    void Check(CBasicListCtrl& list, int language) {
        QVERIFY2(list.isVisible(), qPrintable(list.objectName()));
        // The view lays itself out a moment later, more so on a loaded machine.
        QString problem = Unreadable(list);
        for (int waited = 0; !problem.isEmpty() && waited < 5000; waited += 50) {
            Settle(50);
            problem = Unreadable(list);
        }
        QVERIFY2(problem.isEmpty(), qPrintable(QString("%1 in language %2: %3")
                                                   .arg(list.objectName())
                                                   .arg(language)
                                                   .arg(problem)));
    }

private slots:
    void initTestCase() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.SchedulePath = ToStd(WriteSampleSchedule(sandbox_.Path("site")));
        SeedFirmwareStore(ToQ(setup.StorageFolder));
        window_ = std::make_unique<CMainWindow>(std::move(setup));
        window_->show();
        QTRY_VERIFY_WITH_TIMEOUT(!window_->IsBusy(), 5000);
        ListSampleDevices(window_->UpgradePageWidget());
        // The start-up check has judged the series; then one is downloading.
        CFirmwareListCtrl& firmware = window_->DownloadPageWidget().List();
        QTRY_VERIFY(firmware.RowCount() == 4 && window_->DownloadPageWidget().isEnabled() &&
                    !firmware.GetField(0, firmware_field::kStatus).isEmpty());
        window_->DownloadPageWidget().OnDownloadStatus("IPC-5 Series", 0, 3725, 42);
        QTRY_VERIFY(firmware.GetField(firmware.FindSeries("IPC-5 Series"), firmware_field::kStatus)
                        .startsWith("42%"));
    }

    void everyColumnIsReadableInEveryLanguage() {
        for (int language : kLanguages) {
            Window().ApplyLanguage(language);
            Window().ShowPage(CMainWindow::kUpgradePage);
            Check(Window().UpgradePageWidget().DeviceList(), language);
            Window().ShowPage(CMainWindow::kSchedulePage);
            QTRY_COMPARE(Window().SchedulePageWidget().List().RowCount(), 6);
            Check(Window().SchedulePageWidget().List(), language);
            Window().ShowPage(CMainWindow::kFirmwarePage);
            Check(Window().DownloadPageWidget().List(), language);
        }
        // The status list of a run.
        Window().ShowPage(CMainWindow::kUpgradePage);
        Window().LockTabs();
        ShowSampleRun(Window().UpgradePageWidget());
        QTRY_COMPARE(Window().UpgradePageWidget().StatusList().RowCount(), 3);
        for (int language : kLanguages) {
            Window().ApplyLanguage(language);
            Check(Window().UpgradePageWidget().StatusList(), language);
        }
        Window().UnlockTabs();
    }

    void noTextIsMissingInAnyLanguage() {
        CLayoutTexts& texts = Window().Texts();
        for (int language : kLanguages) {
            Window().ApplyLanguage(language);
            for (int page : {CMainWindow::kSchedulePage, CMainWindow::kSettingPage,
                             CMainWindow::kFirmwarePage, CMainWindow::kUpgradePage}) {
                Window().ShowPage(page);
            }
            for (auto mode : {CMessageDlg::kWhenToUpgrade, CMessageDlg::kEditSchedule,
                              CMessageDlg::kAddDevice}) {
                CMessageDlg popup(texts, mode, 0, true, &Window());
            }
            // Every status an upgrade, a scheduled upgrade and a download can show.
            for (int stage : {stage::kRunning, stage::kEndedEarly, stage::kUploadEnded,
                              stage::kUploading, stage::kFinished}) {
                for (int code : {0, -1, -2, -10, -101, -301, -304, -406, -408, -503}) {
                    StatusCellText(stage, stage == stage::kRunning ? 0 : 30, 50, code,
                                   texts.Lookup());
                    StatusCellText(stage, 30, 50, code, texts.Lookup());
                }
            }
            for (int status = 0; status <= 10; ++status) {
                CScheduleInfo entry;
                entry.Status = status;
                StatusText(entry, texts.Lookup());
            }
            for (int result : {rc::kNameNotResolved, rc::kCannotConnect, rc::kTimeout,
                               rc::kSinkStopped, rc::kHttpNotFound, rc::kChecksumMismatch, -1}) {
                DownloadFailureText(result, texts.Lookup());
                Window().DownloadPageWidget().OnDownloadFailed("PTZ-9 Series", "PTZ-9320.bin",
                                                               result, 1, result != -1);
            }
            Window().SetDownloadedName("PTZ-9 Series");
            Window().NotifyNewFirmware();
            Window().NotifyDiskFull();
            Settle(150);
        }
        const std::set<std::string> missing = texts.MissingKeys();
        for (const std::string& name : missing) qWarning("built-in text shown: %s", name.c_str());
        QVERIFY(missing.empty());
    }

    void cellsOnScreenFollowALanguageSwitch() {
        Window().ApplyLanguage(9);
        CLayoutTexts& texts = Window().Texts();
        for (int language : {1037, 17, 30}) {
            Window().ApplyLanguage(language);
            auto text = [&](const char* section, const char* key) {
                return ToQ(texts.ReadLayoutText(section, key, ""));
            };
            const QString where = QString::number(language);
            CBasicListCtrl& devices = Window().UpgradePageWidget().DeviceList();
            QCOMPARE(devices.model()->index(0, 6).data().toString(), text("Upgrade1Page", "Pass"));
            QCOMPARE(devices.model()->index(1, 5).data().toString(),
                     text("Upgrade1Page", "ConnectError"));
            CBasicListCtrl& status = Window().UpgradePageWidget().StatusList();
            QCOMPARE(status.model()->index(1, 5).data().toString(),
                     ToQ(StatusCellText(stage::kFinished, 0, 100, -304, texts.Lookup())));
            CFirmwareListCtrl& firmware = Window().DownloadPageWidget().List();
            const int stored = firmware.FindSeries("NVR-16 Series");
            QCOMPARE(firmware.model()->index(stored, 3).data().toString(),
                     text("DownloadPage", "LatestStatus"));
            const int running = firmware.FindSeries("IPC-5 Series");
            QCOMPARE(firmware.model()->index(running, 3).data().toString(),
                     ToQ(ProgressText(3725, 42, texts.Lookup())));
            const int failed = firmware.FindSeries("PTZ-9 Series");
            QCOMPARE(firmware.model()->index(failed, 3).data().toString(),
                     text("DownloadPage", "FailedStatus")
                         .replace("%s", ToQ(DownloadFailureText(-1, texts.Lookup()))));
        }
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QApplication app(argc, argv);
    EveryLanguageTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "every_language_test.moc"
