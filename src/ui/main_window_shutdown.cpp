// Exit and the orderly shut-down. The user-interface thread never waits for a worker:
// the steps poll from timers, and whatever must wait for threads to end (the scheduler,
// the services' destructors) runs on a thread of its own that reports back when done.
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "firmware/download_coordinator.h"
#include "firmware/download_manager.h"
#include "firmware/firmware_catalog.h"
#include "history/upgrade_history.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "schedule/schedule_runner.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/schedule_page.h"
#include "ui/upgrade_page.h"
#include "upgrade/credential_check.h"

namespace {

constexpr int kStep1Ms = 500;
constexpr int kStep2Ms = 250;

// Runs `work` on a thread of its own and `then` on `context`'s thread once it is done.
template <typename Work, typename Then>
void RunOffGuiThread(QObject* context, Work work, Then then) {
    QThread* thread = QThread::create(std::move(work));
    QObject::connect(thread, &QThread::finished, context, std::move(then));
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

}  // namespace

void CMainWindow::RequestExit() {
    if (exitRequested_) return;
    if (upgradeManager_->HasJobs()) {
        auto* box = new QMessageBox(
            QMessageBox::NoIcon, ToQ(texts_->ReadLayoutText("Main", "Caption", "Strelvane")),
            ToQ(texts_->ReadLayoutText("UI_PopupMessage", "Msg1",
                                       "Some devices are still upgrading, please wait.")),
            QMessageBox::Ok, this);
        box->setObjectName("Msg1");
        box->button(QMessageBox::Ok)->setText(ToQ(texts_->ReadLayoutText("Main", "Ok", "OK")));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();  // the program goes on while the message is shown
        return;
    }
    if (schedulePage_->RunningCount() >= 1) {
        ShowPage(kSchedulePage);
        return;
    }
    exitRequested_ = true;
    scheduleRunner_->Save();
    settings_.SetExitMode();
    exitStep1_.start(kStep1Ms);
}

void CMainWindow::ShutDownStep1() {
    if (busy_) return;
    exitStep1_.stop();
    firmwareCheck_.stop();
    networkWait_.stop();
    networkWatch_.stop();
    catalogWatch_.stop();
    schedulerRetry_.stop();
    RunOffGuiThread(
        this, [runner = scheduleRunner_.get()] { runner->Stop(); },
        [this] { scheduleStopped_ = true; });
    downloadManager_->StopAll();
    exitStep2_.start(kStep2Ms);
}

void CMainWindow::ShutDownStep2() {
    if (downloadManager_->HasActiveJobs() || busy_ || !scheduleStopped_ ||
        downloadPage_->IsWorking()) {
        return;
    }
    exitStep2_.stop();
    running_ = false;
    // The ticks are kept in firmware.xml, which the catalogue writes as it goes.
    downloadPage_->PersistSelections();
    downloadPage_->Detach();
    upgradePage_->Detach();
    RunOffGuiThread(
        this, [this] { DeleteServices(); },
        [this] {
            closing_ = true;
            emit ShutDownFinished();
        });
}

void CMainWindow::DeleteServices() {
    // Jobs that wait for a rebooting device probe through the camera control: they end
    // before it goes.
    if (upgradeManager_) upgradeManager_->Stop();
    if (scheduleRunner_) scheduleRunner_->Stop();
    coordinator_.reset();
    // The checks end within their time-outs; they report to the page and use the table.
    credentialChecks_.reset();
    cameraControl_.reset();
    downloadManager_.reset();
    upgradeManager_.reset();
    upgradeHistory_.reset();  // after the control and the manager, which report to it
    catalog_.reset();
    scheduleRunner_.reset();
    cameraTable_.reset();
}
