// gui_stall_bench: the longest stall of the user-interface thread while the upgrade page
// lists and checks N devices (200 unless --devices N) and 16 uploads report their
// progress, measured in the process by a 2 ms timer on that thread. The devices sit on
// 127.0.0.1 port 9, where nothing listens: every check ends at once, and no byte leaves
// the machine. Runs until every device is listed and checked (6 s at least).
// Usage: gui_stall_bench [--devices N]
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "layout/layout_texts.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "registry/credential_check.h"
#include "ui/check_commands.h"
#include "ui/main_frame.h"
#include "ui/upgrade_page.h"

namespace {

constexpr int kUploads = 16;
constexpr int kSeconds = 6;
constexpr int kTargetMs = 16;  // one frame at 60 Hz

class BenchFrame final : public IMainFrame {
public:
    BenchFrame() : texts_(STRELVANE_DATA_DIR, 9) {}
    CLayoutTexts& Texts() override { return texts_; }
    void BeginBusy() override {}
    void EndBusySoon() override {}
    bool IsBusy() const override { return false; }
    void LockTabs() override {}
    void UnlockTabs() override {}
    void SetWaitCursor(bool) override {}
    void SetDownloadedName(const std::string&) override {}
    void NotifyAllDownloadsFinished() override {}
    void NotifyNewFirmware() override {}
    void NotifyDiskFull() override {}
    void CatalogReady() override {}
    void ShowPage(int) override {}

private:
    CLayoutTexts texts_;
};

CIPCamInfo Device(const std::string& id) {
    CIPCamInfo record;
    record.DeviceId = id;
    record.DeviceName = "Device " + id;
    record.ModelName = "NVR-1600";
    record.HostAddress = "127.0.0.1";
    record.HttpPort = 9;
    return record;
}

// The processor time the calling thread has used, in microseconds.
long long ThreadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

// Times every event the user-interface thread handles, to name the slowest one, and
// the most processor time one took: on a loaded machine a stall may be the scheduler's
// (other processes ran), not the program's own work.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const long long cpuBefore = ThreadCpuMicros();
        const int type = event->type();
        const char* name = receiver->metaObject()->className();
        const bool handled = QApplication::notify(receiver, event);
        --depth_;
        if (const long long cpu = ThreadCpuMicros() - cpuBefore; cpu > mostCpuMicros_) {
            mostCpuMicros_ = cpu;
            mostCpu_ = std::string(name) + " event " + std::to_string(type);
        }
        if (timer.elapsed() > slowestMs_) {
            slowestMs_ = timer.elapsed();
            slowest_ = std::string(name) + " event " + std::to_string(type);
        }
        return handled;
    }

    void ResetTimes() {
        slowestMs_ = -1;
        mostCpuMicros_ = 0;
    }

    std::string Slowest() const { return slowest_ + " (" + std::to_string(slowestMs_) + " ms)"; }
    std::string MostCpu() const {
        return mostCpu_ + " (" + std::to_string(mostCpuMicros_ / 1000) + " ms)";
    }

private:
    long long mostCpuMicros_ = 0;
    std::string mostCpu_;
    int depth_ = 0;
    qint64 slowestMs_ = -1;
    std::string slowest_;
};

}  // namespace

int main(int argc, char** argv) {
    int devices = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--devices" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            devices = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: gui_stall_bench [--devices N]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    BenchFrame frame;
    CCameraTable table;
    CUpgradePage page(frame, nullptr);
    CCameraControl control(table, nullptr);
    control.Attach(page);
    // The checks' commands reach the page as they reach it through the main window.
    CCheckCommands commands(table, [&page](int command, const CIPCamInfo& record) {
        QMetaObject::invokeMethod(
            &page, [&page, command, record] { page.DeviceCommand(command, record); },
            Qt::QueuedConnection);
    });
    CCredentialChecks checks(table, commands);
    page.SetServices(control, table, checks, false);
    page.resize(890, 462);
    page.show();
    // The first paint (fonts loaded, every widget laid out) is the start-up's, measured
    // by gui_startup_bench: the meter starts after it.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    app.ResetTimes();

    // The stall meter: the longest gap between two ticks beyond the tick itself.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 longest = 0;
    QTimer meter;
    meter.setInterval(2);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last - 2);
        last = now;
    });
    meter.start();

    std::atomic<bool> stop{false};
    std::vector<std::jthread> workers;
    workers.emplace_back([&] {
        for (int i = 0; i < devices; ++i) control.DeviceReported(Device("D" + std::to_string(i)));
    });
    for (int u = 0; u < kUploads; ++u) {
        workers.emplace_back([&, u] {
            const CIPCamInfo record = Device("U" + std::to_string(u));
            page.DeviceDispatched(record);
            // Faster than a worker reports (once a second): a harder load.
            for (int percent = 0; !stop; percent = (percent + 1) % 100) {
                page.DeviceStatus(record.DeviceId, 3, 0, percent, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            page.DeviceStatus(record.DeviceId, 32, 0, 100, 0);
        });
    }
    // Ends two seconds after every device is listed (their checks end at once), after
    // kSeconds at least.
    QElapsedTimer run;
    run.start();
    qint64 listedAfter = -1;
    QTimer end;
    end.setInterval(100);
    QObject::connect(&end, &QTimer::timeout, [&] {
        const bool listed = page.DeviceList().RowCount() >= devices;
        if (listed && listedAfter < 0) listedAfter = run.elapsed();
        if (!listed || run.elapsed() < std::max<qint64>(kSeconds * 1000, listedAfter + 2000)) {
            return;
        }
        stop = true;
        QApplication::quit();
    });
    end.start();
    QApplication::exec();
    workers.clear();
    checks.WaitAll();
    std::printf(
        "devices listed %d of %d (all after %lld ms), status rows %d; longest GUI-thread "
        "stall %lld ms (target < %d ms)\n",
        page.DeviceList().RowCount(), devices, static_cast<long long>(listedAfter),
        page.StatusList().RowCount(), static_cast<long long>(longest), kTargetMs);
    std::printf("slowest event: %s; most processor time in one event: %s\n", app.Slowest().c_str(),
                app.MostCpu().c_str());
    return longest < kTargetMs ? 0 : 1;
}
