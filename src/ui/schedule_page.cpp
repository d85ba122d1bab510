#include "ui/schedule_page.h"

#include <QDateTime>
#include <QLocale>
#include <QShowEvent>

#include "families/families.h"
#include "layout/layout_texts.h"
#include "schedule/entry_device.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"
#include "schedule/scheduler.h"
#include "ui/list_rules.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace {

// Schedule-list fields beyond the common ones: the status code (15) colours the status
// cell (13), and a row whose device is being uploaded to cannot be ticked.
constexpr int kDevice = 2;
constexpr int kMac = 4;
constexpr int kTime = 5;
constexpr int kModel = 10;
constexpr int kImage = 11;
constexpr int kEntry = 12;  // the entry's id in the schedule: MAC texts may repeat
constexpr int kStatus = schedule_field::kStatus;
constexpr int kStatusCode = schedule_field::kStatusCode;
constexpr int kImageColumn = 7;
constexpr int kWarningCheckMs = 1000;

// The user's short date format, a blank and the time of day.
QString LocalTimeText(int64_t seconds) {
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(seconds);
    const QTime time = moment.time();
    return QLocale::system().toString(moment.date(), QLocale::ShortFormat) +
           QString::asprintf(" %02d:%02d:%02d", time.hour(), time.minute(), time.second());
}

}  // namespace

CSchedulePage::CSchedulePage(IMainFrame& frame, CScheduleList& schedule, QWidget* parent)
    : CPage(frame, "SchedulePage", parent),
      schedule_(schedule),
      group_(this),
      listArea_(this),
      list_(&listArea_),
      prompt_(this),
      selectAll_(CSkinButton::Kind::Push, this),
      deselectAll_(CSkinButton::Kind::Push, this),
      edit_(CSkinButton::Kind::Push, this),
      delete_(CSkinButton::Kind::Push, this) {
    skin::MakeListPlace(listArea_, {&list_});
    list_.setObjectName("ScheduleList");
    list_.setAccessibleName("ScheduleList");
    list_.SetRules(ScheduleRowMayTick, ScheduleCellColours);
    prompt_.setWordWrap(true);
    prompt_.hide();
    fileChooser_ = FirmwareFileChooser(*this);
    popupRunner_ = ModalPopupRunner();
    connect(&selectAll_, &QAbstractButton::clicked, this, &CSchedulePage::SelectAll);
    connect(&deselectAll_, &QAbstractButton::clicked, this, &CSchedulePage::CancelAll);
    connect(&edit_, &QAbstractButton::clicked, this, &CSchedulePage::Edit);
    connect(&delete_, &QAbstractButton::clicked, this, &CSchedulePage::Delete);
    connect(&list_, &QAbstractItemView::doubleClicked, this, &CSchedulePage::RowDoubleClicked);
    warningWatch_.setInterval(kWarningCheckMs);
    connect(&warningWatch_, &QTimer::timeout, this, &CSchedulePage::UpdateWarning);
    warningWatch_.start();
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

void CSchedulePage::PlacePrompt() {
    const QString hint =
        ToQString(Place(prompt_, "PromptLabel",
                        "After successfully upgrading, double-click a device to access it."));
    if (warningShown_) {
        prompt_.setText(hint);
        skin::SetTextColour(prompt_, skin::kCaption);
    } else if (refused_) {
        prompt_.setText(!refusedDetail_.isEmpty()
                            ? refusedDetail_
                            : PageText("SchedulerElsewhere",
                                       "Another Strelvane runs this schedule: its upgrades start "
                                       "there."));
        skin::SetTextColour(prompt_, skin::kWarning);
    }
    prompt_.setVisible(warningShown_ || refused_);
}

void CSchedulePage::SetColumns() {
    const QStringList headings = {QString(),
                                  PageText("NoField", "No"),
                                  PageText("UPnPField", "Device Name"),
                                  PageText("ModelField", "Model Name"),
                                  PageText("IPField", "IP Address"),
                                  PageText("ScheduleTime", "Schedule Time"),
                                  PageText("StatusField", "Status"),
                                  PageText("UpgradeFlePath", "FW Path")};
    // Eight columns cannot share the page legibly: the schedule time and the status keep
    // their width, and the image path is reached by scrolling.
    list_.SetColumns(headings, {20, 50, 150, 130, 150, 180, 200, 400}, CBasicListCtrl::Fit::Scroll);
    list_.SetPromptText(Text("Upgrade1Page", "PromptText", "<Enter password>"));
    list_.SetPassText(Text("Upgrade1Page", "Pass", "Passed"));
}

void CSchedulePage::ReloadTexts() {
    PlaceGroup();
    PlacePrompt();
    PlaceLists(listArea_, "ScheduleList", {&list_});
    SetColumns();
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    deselectAll_.setText(ToQString(Place(deselectAll_, "DeselectAllButton", "Cancel All")));
    edit_.setText(ToQString(Place(edit_, "EditButton", "Edit")));
    delete_.setText(ToQString(Place(delete_, "DeleteButton", "Delete")));
    // The status texts follow the language too.
    if (list_.RowCount() > 0) Refill();
    update();
}

int CSchedulePage::RunningCount() const { return schedule_.RunningCount(); }

void CSchedulePage::UpdateWarning() {
    const bool running = RunningCount() >= 1;
    if (running == warningShown_) return;
    warningShown_ = running;
    PlaceGroup();
    PlacePrompt();
}

void CSchedulePage::SetSchedulerRefused(bool refused, const QString& detail) {
    refused_ = refused;
    refusedDetail_ = detail;
    PlacePrompt();
}

QString CSchedulePage::StatusTextOf(const CScheduleInfo& entry) {
    return ToQ(StatusText(entry, frame_.Texts().Lookup()));
}

void CSchedulePage::Refill() {
    list_.DeleteAllRows();
    for (const ScheduleEntry& entry : schedule_.Entries()) ShowEntry(entry.Id, entry.Info);
}

void CSchedulePage::ShowEntry(uint64_t id, const CScheduleInfo& entry) {
    const QString key = QString::number(id);
    int row = list_.FindRow(kEntry, key);
    if (row < 0) {
        row = list_.InsertRow(field::kCheck, "0");
        list_.AddField(row, field::kNumber, QString::number(row + 1));
        list_.AddField(row, kDevice, ToQ(entry.Device));
        list_.AddField(row, kModel, ToQ(entry.Model));
        list_.AddField(row, field::kAddress, ToQ(entry.IP) + ":" + ToQ(entry.Port));
        list_.AddField(row, kTime, LocalTimeText(entry.UpgradeTime));
        list_.AddField(row, kStatus, StatusTextOf(entry));
        list_.AddField(row, kImage, ToQ(entry.FWPath));
        list_.AddHiddenField(row, kMac, ToQ(entry.MAC));
        list_.AddHiddenField(row, kStatusCode, QString::number(entry.Status));
        list_.AddHiddenField(row, kEntry, key);
        return;
    }
    list_.SetField(row, kStatus, StatusTextOf(entry));
    list_.SetField(row, kStatusCode, QString::number(entry.Status));
    list_.SetField(row, kImage, ToQ(entry.FWPath));
    // Another process may have re-timed it.
    list_.SetField(row, kTime, LocalTimeText(entry.UpgradeTime));
}

void CSchedulePage::Command(int command, uint64_t id) {
    if (command != 19 && command != 20) return;
    // The list holds the latest state; a report that arrives late must not bring back
    // an older one, nor a row for an entry deleted meanwhile.
    if (const std::optional<ScheduleEntry> current = schedule_.Find(id)) {
        ShowEntry(id, current->Info);
    }
    // Started and ended runs change the running count.
    UpdateWarning();
}

void CSchedulePage::EntryProgress(uint64_t id, const CScheduleInfo&) {
    OnGuiThread([this, id] { Command(19, id); });
}

void CSchedulePage::EntryFinished(uint64_t id, const CScheduleInfo&) {
    OnGuiThread([this, id] { Command(20, id); });
}

void CSchedulePage::showEvent(QShowEvent* event) {
    // Shown by a tab (not by the window coming back): the schedule as it is now.
    if (!event->spontaneous()) Refill();
    UpdateWarning();
    CPage::showEvent(event);
}

void CSchedulePage::SelectAll() { list_.SetAllChecks(true); }

void CSchedulePage::CancelAll() { list_.SetAllChecks(false); }

uint64_t CSchedulePage::EntryOf(int row) const { return list_.GetField(row, kEntry).toULongLong(); }

std::vector<uint64_t> CSchedulePage::TickedEntries() const {
    std::vector<uint64_t> ids;
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (list_.IsChecked(row)) ids.push_back(EntryOf(row));
    }
    return ids;
}

void CSchedulePage::Edit() {
    const std::vector<uint64_t> ticked = TickedEntries();
    if (ticked.empty()) {
        Say("UI_PopupMessage", "Msg2", "Please select one");
        return;
    }
    std::optional<ScheduleEntry> first;
    for (uint64_t id : ticked) {
        if ((first = schedule_.Find(id))) break;
    }
    if (!first) return;
    CMessageDlg popup(frame_.Texts(), CMessageDlg::kEditSchedule, first->Info.UpgradeTime, false,
                      window());
    popup.SetFirmwarePath(ToQ(first->Info.FWPath));
    popup.SetUntil(ToQ(first->Info.Until));
    // The image is changed for one entry at a time; the entry is known by its id, so a
    // sorted list still changes the entry of the ticked row.
    if (ticked.size() == 1) popup.SetScheduleEntry(schedule_, first->Id);
    const int64_t time = popupRunner_(popup);
    if (time <= 0) return;
    bool upgrading = false;
    for (uint64_t id : ticked) {
        if (!schedule_.Reschedule(id, time, ToStd(popup.Until())) && schedule_.Find(id)) {
            upgrading = true;
        }
    }
    Refill();
    Save();
    if (upgrading) Say("UI_PopupMessage", "Msg5", "Device is upgrading.");
}

void CSchedulePage::Delete() {
    const std::vector<uint64_t> ticked = TickedEntries();
    if (ticked.empty()) {
        Say("UI_PopupMessage", "Msg2", "Please select one");
        return;
    }
    if (!Say("SchedulePage", "DeleteDlg", "Is delete select list?", true)) return;
    bool upgrading = false;
    for (uint64_t id : ticked) {
        // A running entry stays: its device is being flashed and its result must show.
        if (!schedule_.Remove(id) && schedule_.Find(id)) upgrading = true;
    }
    Refill();
    Save();
    if (upgrading) Say("UI_PopupMessage", "Msg5", "Device is upgrading.");
}

void CSchedulePage::RowDoubleClicked(const QModelIndex& index) {
    if (!index.isValid()) return;
    const uint64_t id = EntryOf(index.row());
    const std::optional<ScheduleEntry> entry = schedule_.Find(id);
    if (!entry) return;
    const CScheduleInfo& info = entry->Info;
    if (index.column() != kImageColumn) {
        if (!HasUsableAddress(info)) return;  // a hand-edited address is never opened
        const CIPCamInfo device = EntryDevice(info);
        OpenDevicePage(FamilyFor(device.Protocol).WebPage(device));
        return;
    }
    const QString path = fileChooser_(ToQ(info.FWPath));
    if (path.isEmpty() || !AcceptFirmwareImage(path, frame_.Texts(), messenger_)) return;
    schedule_.SetFirmwarePath(id, ToStd(path));
    if (const std::optional<ScheduleEntry> now = schedule_.Find(id)) ShowEntry(id, now->Info);
    Save();
}

void CSchedulePage::Save() {
    if (!save_) return;
    save_(*this, [this](const QString& failure) {
        if (!failure.isEmpty()) messenger_(SaveFailedText(frame_.Texts(), failure), false);
    });
}
