// Exit and the orderly shut-down. The user-interface thread never waits for a worker:
// the steps poll from timers, and whatever must wait for threads to end (the scheduler,
// the services' destructors) runs on a thread of its own that reports back when done.
#include <QThread>

#include "firmware/download_coordinator.h"
#include "firmware/download_manager.h"
#include "firmware/firmware_catalog.h"
#include "schedule/schedule_runner.h"
#include "services/core_services.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/schedule_file_worker.h"
#include "ui/schedule_page.h"
#include "ui/upgrade_page.h"

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
    // A run counts from its confirmation: while its devices are still asked for their
    // models, the upgrade manager holds no job yet.
    if (services_->UpgradeManager()->HasJobs() || upgradePage_->IsRunInProgress()) {
        // The program goes on while the message is shown.
        ShowOkBox(*this, *texts_, "Msg1",
                  ToQ(texts_->ReadLayoutText("UI_PopupMessage", "Msg1",
                                             "Some devices are still upgrading, please wait.")));
        return;
    }
    if (schedulePage_->RunningCount() >= 1) {
        ShowPage(kSchedulePage);
        return;
    }
    // The late watch's devices stay in the journal at the stop: the next start looks.
    const int lateWatched =
        services_->UpgradeManager()->LateWatching() + services_->ScheduleRunner()->LateWatching();
    if (lateWatched > 0 && !lateWatchHandedOver_) {
        AskWithoutWaiting(*this, *texts_, "ExitLateWatch",
                          ToQ(texts_->ReadLayoutText(
                              "UI_PopupMessage", "ExitLateWatch",
                              "Devices that did not come back in time are still being looked "
                              "for. Exit all the same? They will be looked at once more the "
                              "next time the program starts.")),
                          [this](bool exit) {
                              if (!exit) return;
                              lateWatchHandedOver_ = true;
                              RequestExit();
                          });
        return;
    }
    exitRequested_ = true;
    settings_.SetExitMode();
    schedulerRetry_.stop();
    // The server check would hold the shut-down until its time-out.
    services_->Catalog()->StopServerCheck();
    exitSavePending_ = true;
    SaveSchedule(*this, [this](const QString& failure) { ExitSaveEnded(failure); });
    exitStep1_.start(kStep1Ms);
}

void CMainWindow::ExitSaveEnded(const QString& failure) {
    exitSavePending_ = false;
    if (failure.isEmpty()) return;
    // What is planned lives only here now: the user decides whether to lose it.
    exitStep1_.stop();
    exitSavePending_ = true;
    const QString question =
        SaveFailedText(*texts_, failure) + "\n" +
        ToQ(texts_->ReadLayoutText("UI_PopupMessage", "ExitUnsaved",
                                   "Exit all the same? What the schedule holds since its last "
                                   "save is lost."));
    AskWithoutWaiting(*this, *texts_, "ExitUnsaved", question, [this](bool exit) {
        exitSavePending_ = false;
        if (exit) {
            exitStep1_.start(kStep1Ms);
            return;
        }
        exitRequested_ = false;
        settings_.ClearExitMode();
        StartScheduler();
    });
}

void CMainWindow::ShutDownStep1() {
    if (busy_ || exitSavePending_) return;
    exitStep1_.stop();
    firmwareCheck_.stop();
    networkWait_.stop();
    networkWatch_.stop();
    catalogWatch_.stop();
    schedulerRetry_.stop();
    // After any save or start still to be done with the file.
    scheduleFiles_->Run<bool>(
        [runner = services_->ScheduleRunner()] {
            runner->Stop();
            return true;
        },
        this, [this](bool) { scheduleStopped_ = true; });
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
    if (inFlightReview_.joinable()) inFlightReview_.join();
    // Work on the schedule file uses the runner.
    if (scheduleFiles_) scheduleFiles_->WaitForDone();
    // The upgrade workers and the scheduler end before anything they report to goes.
    if (services_) services_->StopWorkers();
    coordinator_.reset();
    services_.reset();
    downloadManager_.reset();
}
