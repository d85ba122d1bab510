// gui_stall_bench: the longest stall of the user-interface thread while the upgrade page
// lists and checks 200 devices and 16 uploads report their progress, measured in the
// process by a 2 ms timer on that thread. The devices sit on 127.0.0.1 port 9, where
// nothing listens: every check ends at once, and no byte leaves the machine.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "layout/layout_texts.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "ui/check_commands.h"
#include "ui/main_frame.h"
#include "ui/upgrade_page.h"
#include "upgrade/credential_check.h"

namespace {

constexpr int kDevices = 200;
constexpr int kUploads = 16;
constexpr int kSeconds = 6;

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

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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
        for (int i = 0; i < kDevices; ++i) control.DeviceReported(Device("D" + std::to_string(i)));
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
    QTimer::singleShot(kSeconds * 1000, [&] {
        stop = true;
        QApplication::quit();
    });
    QApplication::exec();
    workers.clear();
    checks.WaitAll();
    std::printf(
        "devices listed %d of %d, status rows %d; longest GUI-thread stall %lld ms "
        "(target < 50 ms)\n",
        page.DeviceList().RowCount(), kDevices, page.StatusList().RowCount(),
        static_cast<long long>(longest));
    return longest < 50 ? 0 : 1;
}
