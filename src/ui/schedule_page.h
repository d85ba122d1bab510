#pragma once

#include <QFrame>
#include <QLabel>

#include "schedule/schedule_observer.h"
#include "ui/page.h"
#include "ui/skin_button.h"
#include "ui/skin_group_box.h"

class CScheduleList;

// The Schedule page: the scheduled upgrades and their commands. It follows the
// scheduler's reports (on its tick and worker threads, handed over as queued copies)
// and warns, in the group box caption, while scheduled upgrades run.
class CSchedulePage final : public CPage, public IScheduleObserver {
    Q_OBJECT
public:
    CSchedulePage(IMainFrame& frame, CScheduleList& schedule, QWidget* parent);

    void ReloadTexts() override;

    // Scheduled upgrades started and not yet finished; Exit does not end the program
    // while there are any.
    int RunningCount() const;
    bool WarningShown() const { return warningShown_; }

    // IScheduleObserver, on any thread.
    void EntryProgress(uint64_t id, const CScheduleInfo& entry) override;
    void EntryFinished(uint64_t id, const CScheduleInfo& entry) override;

    // Shows the warning while upgrades run, the plain caption otherwise.
    void UpdateWarning();

private:
    void PlaceGroup();

    CScheduleList& schedule_;
    CSkinGroupBox group_;
    QFrame listArea_;  // where the schedule list is shown
    QLabel prompt_;
    CSkinButton selectAll_;
    CSkinButton deselectAll_;
    CSkinButton edit_;
    CSkinButton delete_;
    bool warningShown_ = false;
};
