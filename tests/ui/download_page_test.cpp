// The Firmware page in the main window against devsim's firmware server on 127.0.0.1:
// rows and statuses as the store says, Select All with progress, Cancel All, a full
// disk, a failed download's reason, a series the server dropped, the store lock, and Exit
// while downloads run.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "firmware/catalog_xml.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "firmware_test_support.h"
#include "schedule/schedule_file.h"
#include "schedule_test_support.h"
#include "support/web_test_support.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/tray.h"
#include "ui_sandbox.h"

namespace {

constexpr int kStatusColumn = 3;

QString Status(CFirmwareListCtrl& list, const QString& series) {
    return list.model()->index(list.FindSeries(series), kStatusColumn).data().toString();
}

QStringList SeriesShown(CFirmwareListCtrl& list) {
    QStringList rows;
    for (int row = 0; row < list.RowCount(); ++row) {
        rows << list.GetField(row, field::kNumber) + " " + list.SeriesAt(row);
    }
    return rows;
}

bool AnyChecked(CFirmwareListCtrl& list) {
    for (int row = 0; row < list.RowCount(); ++row) {
        if (list.IsChecked(row)) return true;
    }
    return false;
}

bool IsProgressText(const QString& text) {
    static const QRegularExpression progress(R"(^\d{1,3}% \(\d\d:\d\d:\d\d left\)$)");
    return progress.match(text).hasMatch();
}

QAbstractButton& Button(CDownloadPage& page, const char* key) {
    return *page.findChild<QAbstractButton*>(key);
}

// Three series: S1 held and newest, S2 held in an older version, S3 not held.
struct Published {
    std::string A = PatternBytes(300000, 'a');
    std::string B1 = PatternBytes(200000, 'b');
    std::string B2 = PatternBytes(400000, 'c');
    std::string C = PatternBytes(500000, 'd');
    CatalogRecord S1 = Record("S1", "M1", "1.0", "a.bin", A);
    CatalogRecord S2Old = Record("S2", "M2", "1.0", "b1.bin", B1);
    CatalogRecord S2 = Record("S2", "M2", "2.0", "b2.bin", B2);
    CatalogRecord S3 = Record("S3", "M3", "1.0", "c.bin", C);
};

}  // namespace

class DownloadPageTest : public QObject {
    Q_OBJECT
public:
    explicit DownloadPageTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private:
    // The store as a run that downloaded S1 and the old S2 left it; the server offers
    // S1, the new S2 and S3, its images sent at `bytesPerSecond`.
    void Prepare(const TempDir& store, int bytesPerSecond) {
        {
            CFirmwareCatalog catalog(store.Path(), "http://127.0.0.1:9", [] { return false; });
            QVERIFY(catalog.ReadLocalCatalog());
            QVERIFY(catalog.ParseServerCatalog(ServerCatalogText({p_.S1, p_.S2Old})));
            store.Write("a.bin", StoredImage(p_.A));
            store.Write("b1.bin", StoredImage(p_.B1));
            catalog.MarkDownloaded("S1", "M1", "H1", "1.0");
            catalog.MarkDownloaded("S2", "M2", "H1", "1.0");
        }
        for (const auto& [file, bytes] : std::map<std::string, std::string>{
                 {"a.bin", p_.A}, {"b2.bin", p_.B2}, {"c.bin", p_.C}}) {
            served_->Write(file, bytes);
        }
        served_->Write("Firmware_V2.xml", ServerCatalogText({p_.S1, p_.S2, p_.S3}));
        server_ = std::make_unique<DevsimProcess>(std::vector<std::string>{
            "--firmware-server",
            "folder=" + served_->Path() + ",fault=rate_limit:" + std::to_string(bytesPerSecond)});
    }

    std::unique_ptr<CMainWindow> MakeWindow(const TempDir& store,
                                            FreeSpaceProbe freeSpace = AvailableBytes,
                                            const std::string& systemSettings = "") {
        MainWindowSetup setup = sandbox_.Setup();
        if (!systemSettings.empty()) setup.Settings.SystemStore = systemSettings;
        setup.StorageFolder = store.Path();
        setup.ServerBase = "http://127.0.0.1:" + std::to_string(server_->FirmwareServerPort());
        setup.Network = [] { return true; };
        setup.FreeSpace = std::move(freeSpace);
        setup.TimeScale = 50.0;  // a 5 s retry pause takes 100 ms
        auto window = std::make_unique<CMainWindow>(std::move(setup));
        balloons_ = std::make_unique<QSignalSpy>(window->findChild<CTray*>(), &CTray::BalloonShown);
        window->show();
        window->ShowPage(CMainWindow::kFirmwarePage);
        // The start-up check has listed and judged the series, and its busy state ended.
        CFirmwareListCtrl& list = window->DownloadPageWidget().List();
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(list.RowCount() > 0 && !Status(list, "S1").isEmpty() &&
                                         !window->IsBusy() &&
                                         window->DownloadPageWidget().isEnabled(),
                                     10000);
        }();
        return window;
    }

    QStringList Balloons() const {
        QStringList texts;
        for (const QList<QVariant>& call : *balloons_) texts << call.at(1).toString();
        return texts;
    }

    void ExitAndWait(CMainWindow& window) {
        QSignalSpy finished(&window, &CMainWindow::ShutDownFinished);
        window.RequestExit();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        window.Settings().ClearExitMode();
    }

    const UiSandbox& sandbox_;
    Published p_;
    std::unique_ptr<TempDir> served_;
    std::unique_ptr<DevsimProcess> server_;
    std::unique_ptr<QSignalSpy> balloons_;

private slots:
    void init() {
        ClearProxyEnvironment();
        server_.reset();
        served_ = std::make_unique<TempDir>();
    }

    void statusCellsFollowTheNotificationsOfWorkerThreads() {
        TempDir store;
        Prepare(store, 10000000);
        auto window = MakeWindow(store);
        CDownloadPage& page = window->DownloadPageWidget();
        CFirmwareListCtrl& list = page.List();
        const QColor upToDate(217, 166, 0);
        auto background = [&](const QString& series) {
            return list.model()->index(list.FindSeries(series), 1).data(Qt::BackgroundRole);
        };
        QCOMPARE(SeriesShown(list), (QStringList{"1 S1", "2 S2", "3 S3"}));
        QCOMPARE(Status(list, "S1"), QString("Latest"));
        QCOMPARE(background("S1").value<QColor>(), upToDate);
        QCOMPARE(Status(list, "S2"), QString("Older"));
        QCOMPARE(Status(list, "S3"), QString("Older"));
        QVERIFY(!background("S2").isValid());
        // The start-up check never announces new firmware.
        QTest::qWait(300);
        QVERIFY(!Balloons().contains("New firmware available"));

        const struct {
            int Kind, A, B;
            const char* Shown;
        } statuses[] = {
            {0, 3725, 42, "42% (01:02:05 left)"},
            {1, 0, 100, "42% (01:02:05 left)"},  // an image stored: unchanged
            {8, 0, 100, "Network break"},
            {16, 0, 100, "Not enough free space"},
            {4, 0, 100, "Older"},
            {2, 0, 100, "Latest"},
        };
        for (const auto& s : statuses) {
            std::thread([&] { page.OnDownloadStatus("S3", s.Kind, s.A, s.B); }).join();
            QTRY_COMPARE(Status(list, "S3"), QString(s.Shown));
            QCOMPARE(background("S3").value<QColor>() == upToDate, s.Kind == 2);
        }
        QTRY_VERIFY(Balloons().contains("S3 has been downloaded"));
        std::thread([&] {
            page.OnDownloadStatus("Unknown", 2, 0, 100);
            page.OnSeriesAdded("S1", false);  // already listed
            page.OnSeriesAdded("S4", true);
            page.OnSeriesRemoved("S2");
            // A later check with an older series announces it.
            page.OnCatalogChecked();
        }).join();
        QTRY_VERIFY(Balloons().contains("New firmware available"));
        // The other rows keep their numbers.
        QCOMPARE(SeriesShown(list), (QStringList{"1 S1", "3 S3", "4 S4"}));
        QVERIFY(list.IsChecked(list.FindSeries("S4")));
        QVERIFY(!Balloons().contains("Unknown has been downloaded"));
    }

    void selectAllShowsProgressAndCancelAllWaitsOffTheGuiThread() {
        TempDir store;
        Prepare(store, 60000);
        auto window = MakeWindow(store);
        CDownloadPage& page = window->DownloadPageWidget();
        CFirmwareListCtrl& list = page.List();
        const std::string lockFile = store.File("firmware.xml.lock");
        QVERIFY(!CFileLock::IsHeld(lockFile));
        QTest::mouseClick(&Button(page, "SelectAllButton"), Qt::LeftButton);
        QVERIFY(list.IsChecked(0) && list.IsChecked(1) && list.IsChecked(2));
        QTRY_VERIFY(IsProgressText(Status(list, "S3")));
        QVERIFY(CFileLock::IsHeld(lockFile));
        QCOMPARE(Status(list, "S1"), QString("Latest"));  // nothing to fetch

        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(&Button(page, "DeselectAllButton"), Qt::LeftButton);
        const qint64 clickMs = clock.restart();
        QVERIFY(window->IsBusy() && !Button(page, "SelectAllButton").isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsWorking(), 10000);
        // The click returned at once and the wait for the workers went on after it: the
        // window kept drawing meanwhile.
        QVERIFY2(clock.elapsed() > clickMs,
                 qPrintable(QString("click %1 ms, then %2 ms").arg(clickMs).arg(clock.elapsed())));
        QCOMPARE(Status(list, "S2"), QString("Older"));
        QCOMPARE(Status(list, "S3"), QString("Older"));
        QCOMPARE(Status(list, "S1"), QString("Latest"));
        QVERIFY(!AnyChecked(list));
        QVERIFY(Button(page, "SelectAllButton").isEnabled());
        QTRY_VERIFY(!window->IsBusy());
        QTRY_VERIFY(!CFileLock::IsHeld(lockFile));
    }

    void aFullDiskShowsItAndLosesNothing() {
        TempDir store;
        Prepare(store, 10000000);
        std::atomic<bool> full{true};
        auto window = MakeWindow(
            store, [&](const std::string&) { return full ? int64_t{0} : int64_t{1} << 40; });
        CDownloadPage& page = window->DownloadPageWidget();
        CFirmwareListCtrl& list = page.List();

        // Another process holds the store: nothing is downloaded and the user is told.
        {
            std::optional<CFileLock> other =
                CFileLock::TryAcquire(store.File("firmware.xml.lock"), std::chrono::seconds(1));
            QVERIFY(other);
            QTest::mouseClick(&Button(page, "SelectAllButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(page.findChild<QMessageBox*>("StoreBusyMessage"), 10000);
            QCOMPARE(Status(list, "S3"), QString("Older"));
            page.findChild<QMessageBox*>("StoreBusyMessage")->close();
        }

        QTest::mouseClick(&Button(page, "SelectAllButton"), Qt::LeftButton);
        QTRY_COMPARE(Status(list, "S3"), QString("Not enough free space"));
        QTRY_VERIFY(Balloons().contains("There are not enough space, please release some space."));
        QCOMPARE(store.Read("a.bin"), StoredImage(p_.A));
        std::vector<CatalogRecord> records;
        QVERIFY(ReadCatalogRecords(store.Read("firmware.xml"), records));
        QVERIFY(std::any_of(records.begin(), records.end(), [](const CatalogRecord& r) {
            return r.Series == "S1" && r.Filename == "a.bin";
        }));

        full = false;
        QTRY_COMPARE_WITH_TIMEOUT(Status(list, "S3"), QString("Latest"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Status(list, "S2"), QString("Latest"), 10000);
        QCOMPARE(store.Read("c.bin"), StoredImage(p_.C));
        QCOMPARE(store.Read("b2.bin"), StoredImage(p_.B2));
        QCOMPARE(store.Read("a.bin"), StoredImage(p_.A));
        for (const char* series : {"S2", "S3"}) {
            QTRY_VERIFY(Balloons().filter("has been downloaded").join(" ").contains(series));
        }
        QTRY_VERIFY(!page.HoldsStoreLock());
    }

    void aFailedDownloadShowsWhyInItsCell() {
        TempDir store;
        Prepare(store, 10000000);
        // S3's image is not what the catalogue's checksum says; S2's is gone from the server.
        served_->Write("c.bin", PatternBytes(500000, 'x'));
        std::filesystem::remove(served_->File("b2.bin"));
        auto window = MakeWindow(store);
        CDownloadPage& page = window->DownloadPageWidget();
        CFirmwareListCtrl& list = page.List();
        QTest::mouseClick(&Button(page, "SelectAllButton"), Qt::LeftButton);

        QTRY_COMPARE_WITH_TIMEOUT(Status(list, "S3"),
                                  QString("Failed: image failed its checksum; it will be "
                                          "downloaded again"),
                                  20000);
        // Retried while it fails, and saying why.
        QTRY_COMPARE_WITH_TIMEOUT(Status(list, "S2"),
                                  QString("the server has no such file (HTTP 404); trying again"),
                                  20000);
        // Long texts are elided in their cells, the whole text in the tooltip.
        const QModelIndex cell = list.model()->index(list.FindSeries("S3"), kStatusColumn);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), Status(list, "S3"));
        QVERIFY(!list.wordWrap());
        QCOMPARE(list.textElideMode(), Qt::ElideRight);
        // Stopped, the row keeps the reason its last attempt failed with.
        QTest::mouseClick(&Button(page, "DeselectAllButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsWorking(), 10000);
        QCOMPARE(Status(list, "S2"), QString("Failed: the server has no such file (HTTP 404)"));
        QCOMPARE(Status(list, "S1"), QString("Latest"));
        ExitAndWait(*window);
    }

    // A stick carries S3's image and a tampered S2: only the sound one enters the store,
    // the message says why the other was refused, and Export writes what the store holds.
    void importAndExportCarryOnlyVerifiedImages() {
        TempDir store;
        Prepare(store, 10000000);
        // Through a proxy that takes no connection, the start-up check says who refused.
        TempDir machine;
        machine.Write("settings.conf", "Proxy=127.0.0.1:" + std::to_string(ClosedPort()) + "\n");
        auto proxied = MakeWindow(store, AvailableBytes, machine.File("settings.conf"));
        QTRY_COMPARE(proxied->DownloadPageWidget().findChild<QLabel*>("DescriptionLabel")->text(),
                     QString("The proxy refused the connection or its log-in: check the proxy on "
                             "the Setting page."));
        ExitAndWait(*proxied);
        proxied.reset();

        auto window = MakeWindow(store);
        CDownloadPage& page = window->DownloadPageWidget();
        QCOMPARE(Button(page, "ImportButton").accessibleName(), QString("ImportButton"));
        QCOMPARE(Button(page, "ExportButton").accessibleName(), QString("ExportButton"));
        TempDir stick;
        stick.Write("Firmware_V2.xml", ServerCatalogText({p_.S3, p_.S2}));
        stick.Write("c.bin", p_.C);
        stick.Write("b2.bin", std::string(p_.B2).replace(10, 1, "!"));
        QString chosen = ToQ(stick.Path());
        page.SetFolderChooser([&] { return chosen; });

        QTest::mouseClick(&Button(page, "ImportButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(page.findChild<QMessageBox*>("ImportDoneMessage"), 10000);
        QMessageBox* done = page.findChild<QMessageBox*>("ImportDoneMessage");
        QCOMPARE(done->text(),
                 QString("Import: 1 taken, 0 skipped, 1 refused.\nb2.bin: the bytes do not match "
                         "the catalogue's MD5 (altered or damaged)"));
        done->close();
        QCOMPARE(store.Read("c.bin"), StoredImage(p_.C));
        QVERIFY(!std::filesystem::exists(store.File("b2.bin")));
        QTRY_COMPARE(Status(page.List(), "S3"), QString("Latest"));

        TempDir target;
        chosen = ToQ(target.Path());
        QTest::mouseClick(&Button(page, "ExportButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(page.findChild<QMessageBox*>("ExportDoneMessage"), 10000);
        QCOMPARE(page.findChild<QMessageBox*>("ExportDoneMessage")->text(),
                 QString("Export: 2 written, 0 already there, 0 refused."));
        QCOMPARE(target.Read("c.bin"), p_.C);
        ExitAndWait(*window);
    }

    void exitWaitsForDownloadsAndKeepsTheFilesAndTheTicks() {
        TempDir store;
        Prepare(store, 60000);
        const std::string schedulePath = sandbox_.Setup().SchedulePath;
        // An entry whose upgrade is done: the scheduler leaves it alone.
        const CScheduleInfo done =
            StoredEntry("00:11:22:33:44:66", 1700000000, schedule_status::kSuccessful);
        QVERIFY(SaveSchedule(schedulePath, {done}));
        {
            auto window = MakeWindow(store);
            CDownloadPage& page = window->DownloadPageWidget();
            CFirmwareListCtrl& list = page.List();
            QTest::mouseClick(&Button(page, "SelectAllButton"), Qt::LeftButton);
            QTRY_VERIFY(IsProgressText(Status(list, "S3")));
            ExitAndWait(*window);
            QVERIFY(!page.HasServices());
        }
        std::vector<CatalogRecord> records;
        QVERIFY(ReadCatalogRecords(store.Read("firmware.xml"), records));
        QCOMPARE(records.size(), size_t{3});
        for (const CatalogRecord& record : records) QVERIFY(record.Checked);
        QCOMPARE(store.Read("a.bin"), StoredImage(p_.A));
        const std::vector<CScheduleInfo> schedule = LoadSchedule(schedulePath);
        QCOMPARE(schedule.size(), size_t{1});
        QVERIFY(schedule[0] == done);

        // The server drops S2: its row goes; the ticked series download at start-up.
        served_->Write("Firmware_V2.xml", ServerCatalogText({p_.S1, p_.S3}));
        auto window = MakeWindow(store);
        CFirmwareListCtrl& list = window->DownloadPageWidget().List();
        QCOMPARE(SeriesShown(list), (QStringList{"1 S1", "3 S3"}));
        QTRY_COMPARE_WITH_TIMEOUT(Status(list, "S3"), QString("Latest"), 20000);
        QCOMPARE(store.Read("c.bin"), StoredImage(p_.C));
        ExitAndWait(*window);
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QApplication app(argc, argv);
    DownloadPageTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "download_page_test.moc"
