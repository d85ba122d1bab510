#pragma once

#include <memory>
#include <string>

#include "base/clock.h"
#include "services/service_options.h"

class CCameraControl;
class CCameraTable;
class CCredentialChecks;
class CFirmwareCatalog;
class CInFlightJournal;
class CScheduleList;
class CScheduleRunner;
class CUpgradeHistory;
class CUpgradeManager;
class ICredentialCheckObserver;
class IRegistryObserver;
class IScheduleObserver;

// The one place where the desktop program and the command line build the core's
// long-lived services, wire them to each other and take them down. Built: the in-flight
// journal, the upgrade manager (its journal, its late watch), the firmware store, the
// device table, the camera control, the upgrade history (attached to the control and the
// manager before any front end's observer); on request the credential checks and the
// schedule runner. The front end attaches its own observers on top; they, the Clock and
// the schedule list must outlive this object.
class CCoreServices {
public:
    CCoreServices(const Clock& clock, CoreServiceOptions options);
    // Stops the workers, then deletes each service after everything that reports to it
    // or uses it.
    ~CCoreServices();
    CCoreServices(const CCoreServices&) = delete;
    CCoreServices& operator=(const CCoreServices&) = delete;

    // Reports of the camera control and, when there is one, the upgrade manager go to
    // `observer` too.
    void Attach(IRegistryObserver& observer);

    // Checks of log-ins on the table, reporting to `observer`; once.
    CCredentialChecks& AddCredentialChecks(ICredentialCheckObserver& observer);

    // A runner of the schedule in `list`, reporting to `observer`; once, not started.
    CScheduleRunner& AddScheduleRunner(CScheduleList& list, IScheduleObserver& observer,
                                       ScheduleServiceOptions options);

    // Stops the upgrade workers and the schedule runner and waits for them; the
    // services stay usable for reading.
    void StopWorkers();

    const std::string& HistoryFile() const { return historyFile_; }
    const CInFlightJournal& Journal() const { return *journal_; }
    CCameraTable& Table() { return *table_; }
    CCameraControl& Control() { return *control_; }
    // Null where they were not asked for.
    CUpgradeManager* UpgradeManager() { return manager_.get(); }
    CFirmwareCatalog* Catalog() { return catalog_.get(); }
    CUpgradeHistory* History() { return history_.get(); }
    CCredentialChecks* CredentialChecks() { return checks_.get(); }
    CScheduleRunner* ScheduleRunner() { return runner_.get(); }

private:
    const Clock& clock_;
    const std::string historyFile_;
    // In the order they are built; the destructor takes them down the other way round.
    std::unique_ptr<CInFlightJournal> journal_;  // outlives the manager and the runner
    std::unique_ptr<CUpgradeManager> manager_;
    std::unique_ptr<CFirmwareCatalog> catalog_;
    std::unique_ptr<CCameraTable> table_;
    std::unique_ptr<CCameraControl> control_;
    std::unique_ptr<CUpgradeHistory> history_;
    std::unique_ptr<CCredentialChecks> checks_;
    std::unique_ptr<CScheduleRunner> runner_;
};
