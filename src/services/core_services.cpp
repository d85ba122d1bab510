#include "services/core_services.h"

#include "firmware/firmware_catalog.h"
#include "history/upgrade_history.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "registry/credential_check.h"
#include "schedule/schedule_runner.h"
#include "settings/xdg_folders.h"
#include "upgrade/in_flight_journal.h"
#include "upgrade/upgrade_manager.h"

CCoreServices::CCoreServices(const Clock& clock, CoreServiceOptions options)
    : clock_(clock),
      historyFile_(options.HistoryFile.empty() ? DefaultHistoryFile() : options.HistoryFile) {
    journal_ = std::make_unique<CInFlightJournal>(InFlightJournalFile(historyFile_));
    if (options.Upgrades) {
        manager_ = options.UpgradeRunner
                       ? std::make_unique<CUpgradeManager>(clock_, options.UpgradeRunner)
                       : std::make_unique<CUpgradeManager>(clock_);
        manager_->SetJournal(journal_.get());
        // A device called "did not return" may yet: it is looked for while the program runs.
        if (options.LateWatchMs > 0) manager_->WatchLateReturns(options.LateWatchMs);
    }
    if (!options.StorageFolder.empty()) {
        // Without a server there is nothing to ask: checks merge an empty catalogue
        // instead of sending a request to no address.
        NetworkProbe network = std::move(options.Network);
        if (options.ServerBase.empty()) network = [] { return false; };
        catalog_ = std::make_unique<CFirmwareCatalog>(options.StorageFolder, options.ServerBase,
                                                      std::move(network));
    }
    table_ = std::make_unique<CCameraTable>();
    control_ = std::make_unique<CCameraControl>(*table_, manager_.get(), catalog_.get());
    if (!manager_) return;
    // Every final outcome goes into the history, before any front end hears of it.
    history_ = std::make_unique<CUpgradeHistory>(*table_, historyFile_);
    history_->SetProblemHandler(std::move(options.HistoryProblemHandler));
    history_->SetDispatchImages(*control_);
    control_->Attach(*history_);
    manager_->AddObserver(*history_);
    manager_->AddControl(*control_);
}

CCoreServices::~CCoreServices() {
    StopWorkers();
    runner_.reset();  // looks for devices through the control, keeps the journal
    // The checks end within their time-outs; they report to their observer and use the table.
    checks_.reset();
    // Waits for the dispatch threads, which hand jobs to the manager.
    control_.reset();
    manager_.reset();
    history_.reset();  // after the control and the manager, which report to it
    catalog_.reset();
    table_.reset();
    journal_.reset();
}

void CCoreServices::Attach(IRegistryObserver& observer) {
    control_->Attach(observer);
    if (manager_) manager_->AddObserver(observer);
}

CCredentialChecks& CCoreServices::AddCredentialChecks(ICredentialCheckObserver& observer) {
    checks_ = std::make_unique<CCredentialChecks>(*table_, observer);
    return *checks_;
}

CScheduleRunner& CCoreServices::AddScheduleRunner(CScheduleList& list, IScheduleObserver& observer,
                                                  ScheduleServiceOptions options) {
    runner_ = std::make_unique<CScheduleRunner>(list, clock_, observer,
                                                std::move(options.SchedulePath), PathExists);
    if (options.FindDevicesBack) runner_->SetDeviceLocator(control_.get());
    if (options.Notice) runner_->SetNoticeHandler(std::move(options.Notice));
    runner_->SetHistoryProblemHandler(std::move(options.HistoryProblemHandler));
    runner_->SetJournal(journal_.get());
    if (options.BatchPolicySource)
        runner_->SetBatchPolicySource(std::move(options.BatchPolicySource));
    if (options.LateWatchMs > 0) runner_->WatchLateReturns(options.LateWatchMs);
    return *runner_;
}

void CCoreServices::StopWorkers() {
    // Jobs that wait for a rebooting device probe through the camera control: they end
    // before it goes.
    if (manager_) manager_->Stop();
    if (runner_) runner_->Stop();
}
