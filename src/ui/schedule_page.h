#pragma once

#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <functional>

#include "schedule/schedule_observer.h"
#include "ui/list_ctrl.h"
#include "ui/page.h"
#include "ui/skin_button.h"
#include "ui/skin_group_box.h"

class CMessageDlg;
class CScheduleList;

// The Schedule page: the scheduled upgrades, one row each, and their commands (Select
// All, Cancel All, Edit, Delete, a double-click to re-target an image or open the
// device's page). The scheduler runs beside it and reports every change (on its tick and
// worker threads, handed over here as queued copies); while scheduled upgrades run, the
// group box caption warns in red.
class CSchedulePage final : public CPage, public IScheduleObserver {
    Q_OBJECT
public:
    CSchedulePage(IMainFrame& frame, CScheduleList& schedule, QWidget* parent);

    // How the schedule is saved (with the file lock, keeping other processes' changes).
    void SetSaver(ScheduleSaver save) { save_ = std::move(save); }
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    void SetPopupRunner(PopupRunner runner) { popupRunner_ = std::move(runner); }

    void ReloadTexts() override;

    // Scheduled upgrades started and not yet finished; Exit does not end the program
    // while there are any.
    int RunningCount() const;
    bool WarningShown() const { return warningShown_; }
    // Shows the warning while upgrades run, the plain caption otherwise.
    void UpdateWarning();

    // The scheduler could not start here (another process runs this schedule, or, with
    // `detail`, why not): nothing is started here, and the page says so until `refused`
    // is false again (this process took the schedule over).
    void SetSchedulerRefused(bool refused, const QString& detail = {});
    bool SchedulerRefused() const { return refused_; }

    // Empties the list and shows every entry of the schedule in order.
    void Refill();
    // Adds the entry's row, or refreshes its status and image.
    void ShowEntry(uint64_t id, const CScheduleInfo& entry);
    // The scheduler's commands about entry `id`: 19 progress, 20 finished; others are
    // ignored. The row shows the entry as the schedule holds it now.
    void Command(int command, uint64_t id);

    // The commands, as the buttons and the list run them.
    void SelectAll();
    void CancelAll();
    void Edit();
    void Delete();
    void RowDoubleClicked(const QModelIndex& index);

    CCameraListCtrl& List() { return list_; }

    // IScheduleObserver, on any thread.
    void EntryProgress(uint64_t id, const CScheduleInfo& entry) override;
    void EntryFinished(uint64_t id, const CScheduleInfo& entry) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PlaceGroup();
    void PlacePrompt();
    void SetColumns();
    // The entry ids of the ticked rows, in row order.
    std::vector<uint64_t> TickedEntries() const;
    uint64_t EntryOf(int row) const;
    QString StatusTextOf(const CScheduleInfo& entry);
    // Saves off this thread; a failure is told when known.
    void Save();

    CScheduleList& schedule_;
    CSkinGroupBox group_;
    QFrame listArea_;  // where the schedule list is shown
    CCameraListCtrl list_;
    QLabel prompt_;  // the double-click hint while upgrades run, else a refused start
    CSkinButton selectAll_;
    CSkinButton deselectAll_;
    CSkinButton edit_;
    CSkinButton delete_;
    QTimer warningWatch_;  // the group box follows the running count every second
    ScheduleSaver save_;
    FileChooser fileChooser_;
    PopupRunner popupRunner_;
    bool warningShown_ = false;
    bool refused_ = false;
    QString refusedDetail_;
};
