// Draws every page of the desktop program offscreen, in a throw-away home, and saves
// the pictures: each page in English, the upgrade page in Japanese and Hebrew, and the
// upgrade page at 200 % scaling.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "firmware/file_md5.h"
#include "firmware/firmware_catalog.h"
#include "schedule/schedule_file.h"
#include "ui/check_commands.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/upgrade_page.h"

namespace {

void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(CMainWindow& window, const QString& path, qreal scale = 1.0) {
    QPixmap picture(window.size() * scale);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::transparent);
    window.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

// A firmware store as a technician's store holds it: two series stored, two never
// downloaded.
void SeedFirmwareStore(const QString& folder) {
    struct Series {
        const char* Name;
        const char* Model;
        bool Stored;
        bool Checked;
    };
    const Series series[] = {{"NVR-16 Series", "NVR-1600", true, false},
                             {"IPC-2 Series", "IPC-2140", true, true},
                             {"IPC-5 Series", "IPC-5260", false, true},
                             {"PTZ-9 Series", "PTZ-9320", false, false}};
    QString text = "<FirmwareList>";
    for (const Series& s : series) {
        const QString file = QString(s.Model) + ".bin";
        std::string md5 = "0123456789abcdef0123456789abcdef";
        if (s.Stored) {
            QFile image(QDir(folder).filePath(file));
            image.open(QIODevice::WriteOnly);
            image.write(QByteArray("\x04\x00\x00\x00", 4) + "fw01");
            image.close();
            ComputeFileMD5(ToStd(image.fileName()), md5);
        }
        text += QString(
                    "<Firmware Series=\"%1\" Model=\"%2\" HWVer=\"A\" FWVer=\"2.1.0\" "
                    "Filename=\"%3\" MD5=\"%4\" Size=\"4\"/>")
                    .arg(s.Name, s.Model, file, ToQ(md5));
    }
    CFirmwareCatalog catalog(ToStd(folder), "", [] { return false; });
    catalog.ReadLocalCatalog();
    catalog.ParseServerCatalog(ToStd(text + "</FirmwareList>"));
    for (const Series& s : series) {
        if (s.Stored) catalog.MarkDownloaded(s.Name, s.Model, "A", "2.1.0");
        catalog.SetChecked(s.Name, s.Checked);
    }
    catalog.SaveCatalog();
}

// Tonight's plan after a few runs: one upgraded, one refused, one missed, one whose
// image was moved away, two still to come.
void WriteSampleSchedule(const QTemporaryDir& home) {
    QFile image(home.filePath("NVR-1600_v2.4.1.bin"));
    image.open(QIODevice::WriteOnly);
    image.write("QRBAversion=2.4.1\n");
    image.close();
    const std::string path = ToStd(image.fileName());
    const int64_t tonight =
        QDateTime(QDate::currentDate().addDays(1), QTime(2, 0)).toSecsSinceEpoch();
    const auto entry = [&](const char* name, int n, int64_t time, int status) {
        CScheduleInfo e;
        e.IP = "127.0.0." + std::to_string(100 + n);  // never due: no traffic, yet local
        e.Port = "80";
        e.Account = "admin";
        e.Password = "vqmtz";
        e.Device = name;
        e.Model = n % 2 ? "NVR-1600" : "NVR-800";
        e.MAC = "00:00:5E:00:53:" + std::to_string(10 + n);
        e.Version = "2.3.7";
        e.UpgradeTime = time;
        e.Status = status;
        e.FWPath = n == 4 ? ToStd(home.filePath("moved/NVR-800_v2.4.1.bin")) : path;
        return e;
    };
    namespace st = schedule_status;
    SaveSchedule(ToStd(home.filePath("fw_config.xml")),
                 {entry("Gate North", 1, tonight - 86400, st::kSuccessful),
                  entry("Loading Bay", 2, tonight - 86400, st::kLoginFailed),
                  entry("Car Park East", 3, tonight - 86400, st::kNone),
                  entry("Warehouse 2", 4, tonight, st::kWaiting),
                  entry("Reception", 5, tonight, st::kWaiting),
                  entry("Roof West", 6, tonight + 1800, st::kWaiting)});
}

// A few rows as a search and its checks leave them: two passed, one refused.
void ListSampleDevices(CUpgradePage& page) {
    struct Sample {
        const char* Name;
        const char* Model;
        const char* Address;
        const char* Version;
        bool Passed;
    };
    const Sample samples[] = {{"Lobby", "NVR-1600", "198.18.1.1", "1.0.0", true},
                              {"Yard", "NVR-800", "198.18.1.2", "", false},
                              {"Gate", "PLX-420S", "198.18.1.10", "2.3.1", true}};
    for (const Sample& sample : samples) {
        CIPCamInfo record;
        record.DeviceId = sample.Address;
        record.DeviceName = sample.Name;
        record.ModelName = sample.Model;
        record.HostAddress = sample.Address;
        record.FirmwareVersion = sample.Version;
        record.Password = sample.Passed ? "vqmtz" : "";
        record.LoginOk = sample.Passed ? 1 : 0;
        page.DeviceCommand(command::kDeviceAddedByHand, record);
        page.DeviceCommand(sample.Passed ? command::kCheckPassed : command::kCheckFailed, record);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: strelvane-screenshots OUTDIR\n");
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
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    WriteSampleSchedule(home);
    MainWindowSetup setup;
    setup.DataFolder = STRELVANE_DATA_DIR;
    setup.Settings = DefaultSettingsPaths();
    setup.SchedulePath = ToStd(home.filePath("fw_config.xml"));
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

    bool ok = true;
    const char* names[] = {"upgrade", "schedule", "setting", "firmware"};
    // The series never downloaded read Older; one of them is shown as it looks while its
    // download runs.
    window.DownloadPageWidget().OnDownloadStatus("IPC-5 Series", 0, 3725, 42);
    for (int page = CMainWindow::kUpgradePage; page <= CMainWindow::kFirmwarePage; ++page) {
        window.ShowPage(page);
        // The scheduler's first tick finds the moved image.
        Settle(page == CMainWindow::kSchedulePage ? 1200 : 50);
        ok = Save(window, out.filePath(QString("%1-en.png").arg(names[page]))) && ok;
    }
    window.ShowPage(CMainWindow::kUpgradePage);
    ok = Save(window, out.filePath("upgrade-en@2x.png"), 2.0) && ok;
    for (auto [language, suffix] : {std::pair{17, "ja"}, std::pair{1037, "he"}}) {
        window.ApplyLanguage(language);
        Settle(50);
        ok = Save(window, out.filePath(QString("upgrade-%1.png").arg(suffix))) && ok;
    }
    return ok ? 0 : 1;
}
