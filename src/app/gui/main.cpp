// strelvane: the desktop program. One instance per user log-on; a later start shows the
// running one's window and ends.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "base/trace.h"
#include "settings/settings.h"
#include "ui/data_folder.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"

int main(int argc, char* argv[]) {
    // Answered before any window or instance check, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("strelvane %s\n", STRELVANE_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("strelvane");
    QApplication::setQuitOnLastWindowClosed(false);
    SetTraceFile(DefaultTraceFile());

    CSingleInstance instance(CSingleInstance::DefaultRuntimeFolder());
    if (!instance.TryBecomeFirst()) {
        // A running instance that is shutting down is left alone.
        if (!CSettings().IsExitModeSet()) instance.AskFirstToShow(3000);
        return 0;
    }
    CSettings().ClearExitMode();

    MainWindowSetup setup;
    setup.DataFolder = FindDataFolder(QApplication::applicationDirPath());
    setup.AutoArgument = IsAutoStartArgument(QApplication::arguments());
    // The simulated lab runs the deliberate waits (reboot countdowns) faster.
    bool scaled = false;
    const double scale = qEnvironmentVariable("STRELVANE_TIME_SCALE").toDouble(&scaled);
    if (scaled && scale > 0 && scale <= 1000) setup.TimeScale = scale;
    CMainWindow window(std::move(setup));
    QObject::connect(&instance, &CSingleInstance::ShowRequested, &window,
                     &CMainWindow::ShowFromAnotherStart);
    QObject::connect(&window, &CMainWindow::ShutDownFinished, &app, &QApplication::quit);
    window.show();
    return QApplication::exec();
}
