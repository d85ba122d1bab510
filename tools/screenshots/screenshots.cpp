// Draws the desktop program's pages offscreen, in a throw-away home, and saves the
// pictures. By default the set the README shows: each page in English, the upgrade page
// in Japanese and Hebrew, and at 200 % scaling. With --all-languages: every page (the
// upgrade page's device list and its status list during a run, the schedule, setting
// and firmware pages, and the popup's two faces) in all eight languages.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "base/result_codes.h"
#include "sample_site.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/page_support.h"
#include "ui/qt_text.h"
#include "ui/upgrade_page.h"

namespace {

struct Language {
    int Id;
    const char* Suffix;
};
constexpr Language kLanguages[] = {{9, "en"},    {1028, "zh-TW"}, {2052, "zh-CN"}, {17, "ja"},
                                   {1036, "fr"}, {30, "th"},      {33, "id"},      {1037, "he"}};

void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget& widget, const QString& path, qreal scale = 1.0) {
    QPixmap picture(widget.size() * scale);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    widget.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

constexpr const char* kPageNames[] = {"upgrade", "schedule", "setting", "firmware"};

// Each page as the window shows it, named <page>-<suffix>.png.
bool SavePages(CMainWindow& window, const QDir& out, const char* suffix) {
    bool ok = true;
    for (int page = CMainWindow::kUpgradePage; page <= CMainWindow::kFirmwarePage; ++page) {
        window.ShowPage(page);
        Settle(50);
        ok = Save(window, out.filePath(QString("%1-%2.png").arg(kPageNames[page], suffix))) && ok;
    }
    window.ShowPage(CMainWindow::kUpgradePage);
    return ok;
}

// The popup's choice of when to upgrade and its entry of a device by address.
bool SavePopups(CMainWindow& window, const QDir& out, const char* suffix) {
    bool ok = true;
    for (auto [mode, name] : {std::pair{CMessageDlg::kWhenToUpgrade, "popup-when"},
                              std::pair{CMessageDlg::kAddDevice, "popup-add"}}) {
        CMessageDlg popup(window.Texts(), mode, 0, false, &window);
        popup.SetFirmwarePath("/home/technician/firmware/NVR-1600_v2.4.1.bin");
        popup.show();
        Settle(30);
        ok = Save(popup, out.filePath(QString("%1-%2.png").arg(name, suffix))) && ok;
    }
    // The question Exit asks while devices that did not return are still looked for.
    const QString question =
        ToQ(window.Texts().ReadLayoutText("UI_PopupMessage", "ExitLateWatch", "ExitLateWatch"));
    AskWithoutWaiting(window, window.Texts(), "ExitLateWatch", question, [](bool) {});
    Settle(30);
    if (auto* box = window.findChild<QMessageBox*>("ExitLateWatch")) {
        ok = Save(*box, out.filePath(QString("popup-exit-late-%1.png").arg(suffix))) && ok;
        // Gone at once, so that the next language's box is the one found.
        box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool all = argc == 3 && std::strcmp(argv[1], "--all-languages") == 0;
    if (argc != 2 && !all) {
        std::fprintf(stderr, "usage: strelvane-screenshots [--all-languages] OUTDIR\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_STATE_HOME", home.filePath("state").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.filePath("runtime").toUtf8());
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[argc - 1]));
    QDir().mkpath(out.path());

    MainWindowSetup setup;
    setup.DataFolder = STRELVANE_DATA_DIR;
    setup.Settings = DefaultSettingsPaths();
    setup.SchedulePath = ToStd(WriteSampleSchedule(home.filePath("site")));
    setup.StorageFolder = ToStd(home.filePath("store"));
    QDir().mkpath(home.filePath("store"));
    SeedFirmwareStore(home.filePath("store"));
    setup.Network = [] { return false; };
    setup.SearchAtStart = false;  // no multicast outside a lab
    CMainWindow window(std::move(setup));
    window.ApplyLanguage(9);
    ListSampleDevices(window.UpgradePageWidget());
    window.show();
    Settle(600);
    // The series never downloaded read Older; one of them is shown as it looks while its
    // download runs, the other while the server cannot give its image.
    window.DownloadPageWidget().OnDownloadStatus("IPC-5 Series", 0, 3725, 42);
    window.DownloadPageWidget().OnDownloadFailed("PTZ-9 Series", "PTZ-9320.bin", rc::kHttpNotFound,
                                                 2, true);
    // The scheduler's first tick finds the moved image.
    window.ShowPage(CMainWindow::kSchedulePage);
    Settle(1200);

    bool ok = true;
    if (!all) {
        ok = SavePages(window, out, "en");
        ok = Save(window, out.filePath("upgrade-en@2x.png"), 2.0) && ok;
        for (const char* suffix : {"ja", "he"}) {
            for (const Language& language : kLanguages) {
                if (std::strcmp(language.Suffix, suffix) == 0) window.ApplyLanguage(language.Id);
            }
            Settle(50);
            ok = Save(window, out.filePath(QString("upgrade-%1.png").arg(suffix))) && ok;
        }
        return ok ? 0 : 1;
    }
    for (const Language& language : kLanguages) {
        window.ApplyLanguage(language.Id);
        ok = SavePages(window, out, language.Suffix) && ok;
        ok = SavePopups(window, out, language.Suffix) && ok;
    }
    // A run's status list, which stays until Back (a search) ends it.
    window.LockTabs();
    ShowSampleRun(window.UpgradePageWidget());
    for (const Language& language : kLanguages) {
        window.ApplyLanguage(language.Id);
        Settle(50);
        ok = Save(window, out.filePath(QString("run-%1.png").arg(language.Suffix))) && ok;
    }
    return ok ? 0 : 1;
}
