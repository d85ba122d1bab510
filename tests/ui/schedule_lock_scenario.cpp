#include "schedule_lock_scenario.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

#include "schedule/schedule_file.h"
#include "schedule/schedule_store.h"
#include "support/child_process.h"
#include "ui/schedule_page.h"

namespace {

constexpr int kMeterMs = 2;

CScheduleInfo Planned(const std::string& mac, const std::string& image) {
    CScheduleInfo e;
    e.IP = "127.0.0.1";
    e.Port = "9";
    e.Account = "admin";
    e.Password = "vqmtz";
    e.Device = "Device " + mac.substr(mac.size() - 2);
    e.Model = "NVR-1600";
    e.MAC = mac;
    e.Version = "1.0";
    e.UpgradeTime = QDateTime::currentSecsSinceEpoch() + 86400;
    e.Status = schedule_status::kWaiting;
    e.FWPath = image;
    return e;
}

void WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

}  // namespace

ScheduleLockOutcome RunScheduleLockScenario(MainWindowSetup setup, int holdSeconds) {
    ScheduleLockOutcome outcome;
    const std::string path = setup.SchedulePath;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string image = path + ".image.bin";
    SaveSchedule(path, {Planned("00:00:5E:00:06:01", image), Planned("00:00:5E:00:06:02", image)});
    const auto held = std::optional<std::string>("held");
    // One process each (no fork, exec at the end), so that ending it frees its lock and
    // leaves nothing behind.
    ChildProcess scheduler(
        {"flock", "--no-fork", SchedulerLockPath(path), "sh", "-c", "echo held; exec sleep 120"});
    outcome.Held = scheduler.ReadLine(std::chrono::seconds(10)) == held;

    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<CMainWindow>(std::move(setup));
    outcome.MakeMs = clock.elapsed();
    QSignalSpy finished(window.get(), &CMainWindow::ShutDownFinished);
    window->show();
    window->ShowPage(CMainWindow::kSchedulePage);
    CSchedulePage& page = window->SchedulePageWidget();
    page.SetMessenger([](const QString&, bool) { return true; });
    // Up, drawn, and told that another program runs the schedule.
    WaitFor([&] { return page.SchedulerRefused() && page.List().RowCount() == 2; }, 5000);
    WaitFor([] { return false; }, 500);

    ChildProcess file({"flock", "--no-fork", ScheduleLockPath(path), "sh", "-c",
                       "echo held; exec sleep " + std::to_string(holdSeconds)});
    outcome.Held = outcome.Held && file.ReadLine(std::chrono::seconds(10)) == held;
    qint64 last = clock.elapsed();
    QTimer meter;
    meter.setInterval(kMeterMs);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        outcome.LongestStallMs = std::max(outcome.LongestStallMs, now - last - kMeterMs);
        last = now;
    });
    meter.start();
    QAbstractItemModel& rows = *page.List().model();
    rows.setData(rows.index(0, 0), Qt::Checked, Qt::CheckStateRole);
    page.Delete();
    // The window's next try to start its scheduler comes while the file is held.
    WaitFor([] { return false; }, (holdSeconds - 1) * 1000);
    window->RequestExit();
    WaitFor([&] { return finished.count() > 0; }, (holdSeconds + 20) * 1000);
    meter.stop();
    outcome.ShutDown = finished.count() > 0;
    window.reset();
    outcome.EntriesSaved = static_cast<int>(LoadSchedule(path).size());
    return outcome;
}
