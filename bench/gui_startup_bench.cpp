// gui_startup_bench: how long the desktop program takes from the start of its process
// to a drawn main window, and how much memory it then holds. Runs the program's own
// start-up (fonts, settings, schedule, services, pages) offscreen in a throw-away home.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "ui/main_window.h"
#include "ui/qt_text.h"

namespace {

// Seconds since boot at which this process started, and now.
double ProcessStartSeconds() {
    QFile stat("/proc/self/stat");
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(19).toDouble() / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double BootSeconds() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long StatusKiB(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<int>(strlen(field))).trimmed().split(' ')[0].toLong();
    }
    return -1;
}

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
    bool painted = false;
};

}  // namespace

int main(int argc, char** argv) {
    const double started = ProcessStartSeconds();
    QElapsedTimer inMain;
    inMain.start();
    QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    MainWindowSetup setup;
    setup.DataFolder = STRELVANE_DATA_DIR;
    setup.Settings = DefaultSettingsPaths();
    setup.SchedulePath = ToStd(home.filePath("fw_config.xml"));
    setup.Network = [] { return false; };
    setup.SearchAtStart = false;  // no multicast outside a lab
    CMainWindow window(std::move(setup));
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.show();
    QApplication::exec();
    const double fromExec = BootSeconds() - started;
    std::printf(
        "{\"painted\":%s,\"ms_from_process_start\":%.0f,\"ms_from_main\":%lld,"
        "\"rss_mib\":%.1f,\"peak_rss_mib\":%.1f}\n",
        paint.painted ? "true" : "false", fromExec * 1000.0,
        static_cast<long long>(inMain.elapsed()), StatusKiB("VmRSS:") / 1024.0,
        StatusKiB("VmHWM:") / 1024.0);
    return paint.painted ? 0 : 1;
}
