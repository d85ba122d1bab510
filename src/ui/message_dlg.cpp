#include "ui/message_dlg.h"

#include <QMetaObject>
#include <QPointer>

#include "layout/layout_texts.h"
#include "schedule/schedule_list.h"
#include "ui/page.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace {
constexpr const char* kSection = "PopuDlg";
constexpr const char* kStyleSection = "PopuDlg.Style";
constexpr int kScanPollMs = 100;

// A control with its style key and default text.
struct PlacedControl {
    QWidget& Control;
    const char* Key;
    const char* Default;
};
}  // namespace

CMessageDlg::CMessageDlg(CLayoutTexts& texts, Mode mode, int64_t initialTime, bool hasEntry,
                         QWidget* parent)
    : QDialog(parent),
      texts_(texts),
      mode_(mode),
      upgradeNow_(this),
      fileLabel_(this),
      fileEdit_(this),
      browse_(this),
      schedule_(this),
      dateLabel_(this),
      date_(this),
      timeLabel_(this),
      time_(this),
      pastWarning_(this),
      untilSet_(this),
      until_(this),
      ok_(this),
      cancel_(this),
      ipLabel_(this),
      ipEdit_(this),
      portLabel_(this),
      portEdit_(this),
      userLabel_(this),
      userEdit_(this),
      passwordLabel_(this),
      passwordEdit_(this),
      scanProgress_(this) {
    setFixedSize(470, 410);
    setWindowTitle(ToQ(texts_.ReadLayoutText("Main", "Caption", "Strelvane")));
    const PlacedControl controls[] = {
        {upgradeNow_, "UpgradeRadioButton", "Upgrade"},
        {fileLabel_, "UpgradeFile", "Update file"},
        {fileEdit_, "UpgradeEdit", ""},
        {browse_, "UpgradeBrowseButton", "Browse"},
        {schedule_, mode == kEditSchedule ? "EditScheduleRadioButton" : "AddScheduleRadioButton",
         "Schedule"},
        {dateLabel_, "DateLabel", "Date"},
        {date_, "DateCtrl", ""},
        {timeLabel_, "TimeLabel", "Date"},
        {time_, "TimeCtrl", ""},
        {pastWarning_, "PromptSchedule", "Schedule loast now time"},
        {untilSet_, "UntilCheckBox", "Must finish by"},
        {until_, "UntilCtrl", ""},
        {ok_, "OkButton", "Ok"},
        {cancel_, "CancelButton", ""},
        {ipLabel_, "IPStatic", "IP Address"},
        {ipEdit_, "IPEdit", ""},
        {portLabel_, "PortStatic", "Port"},
        {portEdit_, "PortEdit", ""},
        {userLabel_, "UserStatic", "Username"},
        {userEdit_, "UserEdit", ""},
        {passwordLabel_, "PwdStatic", "Password"},
        {passwordEdit_, "PwdEdit", ""},
        {scanProgress_, "ScanProgress", ""},
    };
    for (const PlacedControl& control : controls)
        Place(control.Control, control.Key, control.Default);
    cancel_.setText(QStringLiteral("\u2715"));
    passwordEdit_.setEchoMode(QLineEdit::Password);
    skin::SetTextColour(pastWarning_, skin::kWarning);
    // Made in a right-to-left program, these show their sections backwards (07:53:39 as
    // 39:53:07): left to right before their formats are set.
    for (QWidget* w : std::initializer_list<QWidget*>{&date_, &time_, &until_}) {
        w->setLayoutDirection(Qt::LeftToRight);
    }
    date_.setDisplayFormat(date_.locale().dateFormat(QLocale::ShortFormat));
    time_.setDisplayFormat(QStringLiteral("HH:mm:ss"));
    until_.setDisplayFormat(QStringLiteral("HH:mm"));
    until_.setEnabled(false);
    const QDateTime moment =
        initialTime > 0 ? QDateTime::fromSecsSinceEpoch(initialTime) : QDateTime::currentDateTime();
    date_.setDate(moment.date());
    time_.setTime(moment.time());
    pastWarning_.hide();
    scanProgress_.setWordWrap(true);
    scanProgress_.clear();
    scanProgress_.hide();
    scanPoll_.setInterval(kScanPollMs);
    connect(&scanPoll_, &QTimer::timeout, this, &CMessageDlg::FollowScan);

    const bool entry = mode == kAddDevice;
    for (QWidget* w : std::initializer_list<QWidget*>{&upgradeNow_, &fileLabel_, &fileEdit_,
                                                      &browse_, &schedule_, &dateLabel_, &date_,
                                                      &timeLabel_, &time_, &untilSet_, &until_}) {
        w->setVisible(!entry);
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{&ipLabel_, &ipEdit_, &portLabel_, &portEdit_, &userLabel_,
                                         &userEdit_, &passwordLabel_, &passwordEdit_}) {
        w->setVisible(entry);
    }
    if (entry) {
        ipEdit_.setText(QStringLiteral("127.0.0.1"));
        portEdit_.setText(QStringLiteral("80"));
        userEdit_.setText(QStringLiteral("admin"));
        userEdit_.setEnabled(false);  // the log-in name cannot be changed
        passwordEdit_.setText(QStringLiteral("vqmtz"));
    } else if (mode == kEditSchedule) {
        ChooseSchedule();
        browse_.setEnabled(hasEntry);
    } else {
        ChooseUpgradeNow();
    }
    messenger_ = ModalMessenger(*this, texts_);
    // Toggled, not clicked: the keyboard and a screen reader's action change the choice
    // without a click.
    connect(&upgradeNow_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) ChooseUpgradeNow();
    });
    connect(&schedule_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) ChooseSchedule();
    });
    connect(&date_, &QDateEdit::dateChanged, this, &CMessageDlg::UpdatePastWarning);
    connect(&time_, &QTimeEdit::timeChanged, this, &CMessageDlg::UpdatePastWarning);
    // toggled, not clicked: a screen reader's press action emits only toggled.
    connect(&untilSet_, &QCheckBox::toggled, this,
            [this](bool on) { until_.setEnabled(on && untilSet_.isEnabled()); });
    connect(&ok_, &QPushButton::clicked, this, &CMessageDlg::Ok);
    connect(&cancel_, &QPushButton::clicked, this, &CMessageDlg::Cancel);
    connect(&browse_, &QPushButton::clicked, this, [this] {
        const QString path = FirmwareFileChooser(*this)(fileEdit_.text());
        if (!path.isEmpty() && AcceptFirmwareImage(path, texts_, messenger_)) {
            fileEdit_.setText(path);
        }
    });
}

CMessageDlg::~CMessageDlg() {
    // The requests under way end by themselves; the camera control keeps their threads.
    if (scan_) scan_->Cancel();
}

QString CMessageDlg::Text(const char* key, const char* def) const {
    return ToQ(texts_.ReadLayoutText(kSection, key, def));
}

void CMessageDlg::Place(QWidget& control, const char* key, const char* def) {
    ControlStyle style = texts_.ReadControlStyle(kStyleSection, key, def);
    ApplyControlStyle(control, style, key);
    const QString text = ToQString(style);
    if (auto* label = qobject_cast<QLabel*>(&control)) label->setText(text);
    if (auto* button = qobject_cast<QAbstractButton*>(&control)) button->setText(text);
}

void CMessageDlg::ChooseUpgradeNow() {
    upgradeNow_.setChecked(true);
    date_.setEnabled(false);
    time_.setEnabled(false);
    untilSet_.setEnabled(false);
    until_.setEnabled(false);
}

void CMessageDlg::ChooseSchedule() {
    schedule_.setChecked(true);
    date_.setEnabled(true);
    time_.setEnabled(true);
    untilSet_.setEnabled(true);
    until_.setEnabled(untilSet_.isChecked());
    UpdatePastWarning();
}

QString CMessageDlg::Until() const {
    if (mode_ == kAddDevice || !untilSet_.isChecked()) return QString();
    return until_.time().toString(QStringLiteral("HH:mm"));
}

void CMessageDlg::SetUntil(const QString& until) {
    const QTime time = QTime::fromString(until, QStringLiteral("HH:mm"));
    untilSet_.setChecked(time.isValid());
    if (time.isValid()) until_.setTime(time);
}

void CMessageDlg::SetMoment(const QDateTime& moment) {
    date_.setDate(moment.date());
    time_.setTime(moment.time());
}

void CMessageDlg::SetScheduleEntry(CScheduleList& schedule, uint64_t id) {
    entrySchedule_ = &schedule;
    entryId_ = id;
    browse_.setEnabled(true);
}

void CMessageDlg::SetAddress(const QString& host, const QString& port, const QString& password) {
    ipEdit_.setText(host);
    portEdit_.setText(port);
    passwordEdit_.setText(password);
}

int64_t CMessageDlg::ChosenTime() const {
    // Local time; the system decides daylight saving.
    return QDateTime(date_.date(), time_.time()).toSecsSinceEpoch();
}

void CMessageDlg::UpdatePastWarning() {
    pastWarning_.setVisible(ChosenTime() < QDateTime::currentSecsSinceEpoch());
}

void CMessageDlg::Ok() {
    if (mode_ == kAddDevice) {
        AskTypedAddress();
        return;
    }
    if (upgradeNow_.isChecked()) {
        result_ = 0;
    } else {
        // An emptied edit keeps the entry's image: an entry without one cannot be kept.
        const QString path = fileEdit_.text().trimmed();
        if (entrySchedule_ && !path.isEmpty())
            entrySchedule_->SetFirmwarePath(entryId_, ToStd(path));
        // A time already past is allowed: the warning has said so.
        result_ = ChosenTime();
    }
    accept();
}

void CMessageDlg::AskTypedAddress() {
    const std::string host = ToStd(ipEdit_.text().trimmed());
    bool portOk = false;
    const int port = portEdit_.text().trimmed().toInt(&portOk);
    if (host.empty() || !portOk || port < 1 || port > 65535 || userEdit_.text().isEmpty() ||
        passwordEdit_.text().isEmpty() || !scanner_ || scan_) {
        return;
    }
    AddressScanRequest request;
    request.User = ToStd(userEdit_.text());
    request.Password = ToStd(passwordEdit_.text());
    scanningRange_ = LooksLikeRange(host);
    if (scanningRange_) {
        AddressRange range;
        std::string error;
        bool tooLarge = false;
        if (!ParseAddressRange(host, range, error, &tooLarge)) {
            if (tooLarge) {
                ShowMessage(kSection, "RangeTooLarge",
                            "The range is too large: at most 65536 addresses (a /16) can be "
                            "asked.");
            } else {
                ShowMessage(kSection, "RangeInvalid",
                            "Please enter an IP address, a range such as 10.0.0.10-10.0.0.60 or a "
                            "block such as 10.0.0.0/24.");
            }
            return;
        }
        // The port edit stands for every address unless the range names its own.
        if (!range.PortGiven) range.Port = port;
        request.Ranges.push_back(range);
    } else {
        request.Hosts.emplace_back(host, port);
    }
    scan_ = scanner_(std::move(request));
    if (!scan_) return;
    SetEntryEnabled(false);
    scanProgress_.clear();
    scanProgress_.setVisible(scanningRange_);
    scanPoll_.start();
    FollowScan();
}

void CMessageDlg::FollowScan() {
    if (!scan_) return;
    const CAddressScan::Progress progress = scan_->Now();
    if (scanningRange_) {
        scanProgress_.setText(Text("ScanProgress", "Asked %1 of %2 addresses, %3 devices found")
                                  .arg(progress.Asked)
                                  .arg(progress.Total)
                                  .arg(progress.Found()));
    }
    if (!progress.Finished) return;
    scanPoll_.stop();
    scan_.reset();
    SetEntryEnabled(true);
    ScanEnded(progress, scanningRange_);
}

void CMessageDlg::ScanEnded(const CAddressScan::Progress& progress, bool range) {
    if (progress.Cancelled) return;
    if (progress.Added > 0) {
        result_ = 0;
        accept();
        return;
    }
    if (!range) {
        const MessageKey message = AddressEntryMessage(progress.Last);
        ShowMessage(message.Section, message.Key, message.Default);
        return;
    }
    // Nothing new in the range: say why, the likeliest first.
    const AddressEntryResult why = progress.Refused > 0         ? AddressEntryResult::LoginRefused
                                   : progress.AlreadyListed > 0 ? AddressEntryResult::AlreadyListed
                                                                : AddressEntryResult::Unreachable;
    if (why == AddressEntryResult::Unreachable) {
        ShowMessage(kSection, "ScanNone", "No device answered at these addresses.");
        return;
    }
    const MessageKey message = AddressEntryMessage(why);
    ShowMessage(message.Section, message.Key, message.Default);
}

void CMessageDlg::ShowMessage(const char* section, const char* key, const char* def) {
    messenger_(ToQ(texts_.ReadLayoutText(section, key, def)), false);
}

void CMessageDlg::SetEntryEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{&ok_, &ipEdit_, &portEdit_, &passwordEdit_}) {
        w->setEnabled(enabled);
    }
}

void CMessageDlg::Cancel() { reject(); }

void CMessageDlg::reject() {
    // Abandoned, not awaited: the requests end by themselves within moments.
    if (scan_) {
        scan_->Cancel();
        scan_.reset();
        scanPoll_.stop();
    }
    result_ = -1;
    QDialog::reject();
}
