#pragma once

#include <QCheckBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <functional>
#include <memory>

#include "registry/address_scan.h"
#include "ui/page_support.h"

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
    // Starts asking the addresses of the request (off the user-interface thread) and
    // adding the devices that answer; null when it cannot start.
    using AddressScanner = std::function<std::shared_ptr<CAddressScan>(AddressScanRequest)>;

    // `initialTime`: seconds since 1970 shown in the date and time controls (0: now).
    CMessageDlg(CLayoutTexts& texts, Mode mode, int64_t initialTime, bool hasEntry,
                QWidget* parent);
    ~CMessageDlg() override;

    // The address edit takes one address or host name, or a range ("A.B.C.D-E.F.G.H",
    // "A.B.C.D/N", optionally with ":PORT"), whose every address is asked with progress
    // shown. Cancel abandons the requests at once; it never waits for them.
    void SetAddressScanner(AddressScanner scanner) { scanner_ = std::move(scanner); }
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
    // The addresses asked so far, shown while a range is asked.
    QString ScanProgressText() const { return scanProgress_.text(); }
    // A query or a range scan is under way.
    bool Asking() const { return scan_ != nullptr; }

    void ChooseUpgradeNow();
    void ChooseSchedule();
    void SetMoment(const QDateTime& moment);
    void SetAddress(const QString& host, const QString& port, const QString& password);
    void Ok();
    void Cancel();

protected:
    // Esc and the window's close end the popup like Cancel; a query under way is
    // abandoned.
    void reject() override;

private:
    QString Text(const char* key, const char* def) const;
    void Place(QWidget& control, const char* key, const char* def);
    void UpdatePastWarning();
    // OK in the device entry mode: starts asking the typed address or range.
    void AskTypedAddress();
    // A range scan's or a query's progress, every kScanPollMs while it runs.
    void FollowScan();
    void ScanEnded(const CAddressScan::Progress& progress, bool range);
    void ShowMessage(const char* section, const char* key, const char* def);
    void SetEntryEnabled(bool enabled);

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
    QLabel scanProgress_;
    QTimer scanPoll_;
    AddressScanner scanner_;
    std::shared_ptr<CAddressScan> scan_;  // the query or range scan under way
    bool scanningRange_ = false;
    Messenger messenger_;
    CScheduleList* entrySchedule_ = nullptr;
    uint64_t entryId_ = 0;
    int64_t result_ = -1;
};
