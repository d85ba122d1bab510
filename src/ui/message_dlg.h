#pragma once

#include <QCheckBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <functional>
#include <thread>

#include "registry/address_entry.h"

class CLayoutTexts;
class CScheduleList;

// The one popup of the upgrade and schedule pages, in three modes: when to upgrade
// (now, or at a date and time), the edit of a schedule entry's time and image, and the
// entry of a device by its address. Its result: 0 upgrade now or device added, -1
// cancelled, any positive value the chosen time in seconds since 1970.
class CMessageDlg final : public QDialog {
    Q_OBJECT
public:
    enum Mode { kWhenToUpgrade = 0, kEditSchedule = 1, kAddDevice = 2 };
    // Asks the device at the address (off the user-interface thread) and adds it.
    using DeviceAdder = std::function<AddressEntryResult(
        const std::string& host, int port, const std::string& user, const std::string& password)>;
    using Messenger = std::function<void(const QString& text)>;

    // `initialTime`: seconds since 1970 shown in the date and time controls (0: now).
    CMessageDlg(CLayoutTexts& texts, Mode mode, int64_t initialTime, bool hasEntry,
                QWidget* parent);
    ~CMessageDlg() override;

    void SetDeviceAdder(DeviceAdder adder) { adder_ = std::move(adder); }
    // The schedule modes: the image shown in the file edit.
    void SetFirmwarePath(const QString& path) { fileEdit_.setText(path); }
    // The edit of one schedule entry: Browse is allowed, and OK with a time stores the
    // file edit's text into the entry `id` of `schedule`. The list must outlive the popup.
    void SetScheduleEntry(CScheduleList& schedule, uint64_t id);
    void SetMessenger(Messenger messenger) { messenger_ = std::move(messenger); }

    Mode DialogMode() const { return mode_; }
    int64_t Result() const { return result_; }
    // The firmware file typed or chosen in the schedule modes.
    QString FirmwarePath() const { return fileEdit_.text(); }
    // The chosen moment, seconds since 1970.
    int64_t ChosenTime() const;
    // The schedule modes: the end of the window the upgrade must fit, "HH:MM" local time
    // (the first such moment from the chosen one on); empty when none is set.
    QString Until() const;
    void SetUntil(const QString& until);
    bool PastWarningShown() const { return !pastWarning_.isHidden(); }

    void ChooseUpgradeNow();
    void ChooseSchedule();
    void SetMoment(const QDateTime& moment);
    void SetAddress(const QString& host, const QString& port, const QString& password);
    void Ok();
    void Cancel();

protected:
    // Esc and the window's close end the popup like Cancel, never while a query runs.
    void reject() override;

private:
    QString Text(const char* key, const char* def) const;
    void Place(QWidget& control, const char* key, const char* def);
    void UpdatePastWarning();
    void AddDeviceEnded(AddressEntryResult result);

    CLayoutTexts& texts_;
    const Mode mode_;
    QRadioButton upgradeNow_;
    QLabel fileLabel_;
    QLineEdit fileEdit_;
    QPushButton browse_;
    QRadioButton schedule_;
    QLabel dateLabel_;
    QDateEdit date_;
    QLabel timeLabel_;
    QTimeEdit time_;
    QLabel pastWarning_;
    QCheckBox untilSet_;
    QTimeEdit until_;
    QPushButton ok_;
    QPushButton cancel_;
    QLabel ipLabel_;
    QLineEdit ipEdit_;
    QLabel portLabel_;
    QLineEdit portEdit_;
    QLabel userLabel_;
    QLineEdit userEdit_;
    QLabel passwordLabel_;
    QLineEdit passwordEdit_;
    DeviceAdder adder_;
    Messenger messenger_;
    CScheduleList* entrySchedule_ = nullptr;
    uint64_t entryId_ = 0;
    std::jthread query_;  // the address query; the popup cannot close while it runs
    int64_t result_ = -1;
};
