#include "ui/schedule_page.h"

#include <QMetaObject>

#include "schedule/schedule_list.h"
#include "ui/skin.h"

CSchedulePage::CSchedulePage(IMainFrame& frame, CScheduleList& schedule, QWidget* parent)
    : CPage(frame, "SchedulePage", parent),
      schedule_(schedule),
      group_(this),
      listArea_(this),
      prompt_(this),
      selectAll_(CSkinButton::Kind::Push, this),
      deselectAll_(CSkinButton::Kind::Push, this),
      edit_(CSkinButton::Kind::Push, this),
      delete_(CSkinButton::Kind::Push, this) {
    skin::MakeListPlace(listArea_);
    skin::SetTextColour(prompt_, skin::kCaption);
    prompt_.setWordWrap(true);
    prompt_.hide();
    warningShown_ = RunningCount() != 0;
    ReloadTexts();
}

void CSchedulePage::PlaceGroup() {
    if (warningShown_) {
        group_.SetCaption(ToQString(Place(group_, "UpgradingGroup",
                                          "DO NOT unplug the power cord and ethernet cable "
                                          "during the firmware upgrade process.")),
                          skin::kWarning);
    } else {
        group_.SetCaption(ToQString(Place(group_, "ScheduleGroup", "Schedule")), skin::kCaption);
    }
}

void CSchedulePage::ReloadTexts() {
    PlaceGroup();
    Place(listArea_, "ScheduleList", "");
    prompt_.setText(
        ToQString(Place(prompt_, "PromptLabel",
                        "After successfully upgrading, double-click a device to access it.")));
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    deselectAll_.setText(ToQString(Place(deselectAll_, "DeselectAllButton", "Cancel All")));
    edit_.setText(ToQString(Place(edit_, "EditButton", "Edit")));
    delete_.setText(ToQString(Place(delete_, "DeleteButton", "Delete")));
    update();
}

int CSchedulePage::RunningCount() const { return schedule_.RunningCount(); }

void CSchedulePage::UpdateWarning() {
    const bool running = RunningCount() >= 1;
    if (running == warningShown_) return;
    warningShown_ = running;
    PlaceGroup();
    prompt_.setVisible(running);
}

void CSchedulePage::EntryProgress(uint64_t, const CScheduleInfo&) {
    QMetaObject::invokeMethod(
        this, [this] { UpdateWarning(); }, Qt::QueuedConnection);
}

void CSchedulePage::EntryFinished(uint64_t, const CScheduleInfo&) {
    QMetaObject::invokeMethod(
        this, [this] { UpdateWarning(); }, Qt::QueuedConnection);
}
