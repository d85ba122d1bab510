#include "ui/message_dlg.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include "layout/layout_texts.h"
#include "schedule/schedule_list.h"
#include "ui/page.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "upgrade/image_file.h"

namespace {
constexpr const char* kSection = "PopuDlg";
constexpr const char* kStyleSection = "PopuDlg.Style";

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
      passwordEdit_(this) {
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
    };
    for (const PlacedControl& control : controls)
        Place(control.Control, control.Key, control.Default);
    cancel_.setText(QStringLiteral("\u2715"));
    passwordEdit_.setEchoMode(QLineEdit::Password);
    skin::SetTextColour(pastWarning_, skin::kWarning);
    time_.setDisplayFormat(QStringLiteral("HH:mm:ss"));
    until_.setDisplayFormat(QStringLiteral("HH:mm"));
    until_.setEnabled(false);
    const QDateTime moment =
        initialTime > 0 ? QDateTime::fromSecsSinceEpoch(initialTime) : QDateTime::currentDateTime();
    date_.setDate(moment.date());
    time_.setTime(moment.time());
    pastWarning_.hide();

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
    messenger_ = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };
    connect(&upgradeNow_, &QRadioButton::clicked, this, &CMessageDlg::ChooseUpgradeNow);
    connect(&schedule_, &QRadioButton::clicked, this, &CMessageDlg::ChooseSchedule);
    connect(&date_, &QDateEdit::dateChanged, this, &CMessageDlg::UpdatePastWarning);
    connect(&time_, &QTimeEdit::timeChanged, this, &CMessageDlg::UpdatePastWarning);
    // toggled, not clicked: a screen reader's press action emits only toggled.
    connect(&untilSet_, &QCheckBox::toggled, this,
            [this](bool on) { until_.setEnabled(on && untilSet_.isEnabled()); });
    connect(&ok_, &QPushButton::clicked, this, &CMessageDlg::Ok);
    connect(&cancel_, &QPushButton::clicked, this, &CMessageDlg::Cancel);
    connect(&browse_, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QString(), fileEdit_.text(),
                                                          "Firmware image(*.bin *.img)");
        if (path.isEmpty()) return;
        if (IsFirmwareImage(ToStd(path))) {
            fileEdit_.setText(path);
        } else {
            messenger_(ToQ(texts_.ReadLayoutText("ErrorCode", "Code_406",
                                                 "Failed! Please check the firmware file.")));
        }
    });
}

CMessageDlg::~CMessageDlg() = default;

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
        const QString host = ipEdit_.text().trimmed();
        bool portOk = false;
        const int port = portEdit_.text().trimmed().toInt(&portOk);
        if (host.isEmpty() || !portOk || port < 1 || port > 65535 || userEdit_.text().isEmpty() ||
            passwordEdit_.text().isEmpty() || !adder_ || query_.joinable()) {
            return;
        }
        ok_.setEnabled(false);
        cancel_.setEnabled(false);
        query_ =
            std::jthread([this, adder = adder_, host = ToStd(host), port,
                          user = ToStd(userEdit_.text()), password = ToStd(passwordEdit_.text())] {
                const AddressEntryResult result = adder(host, port, user, password);
                QMetaObject::invokeMethod(
                    this, [this, result] { AddDeviceEnded(result); }, Qt::QueuedConnection);
            });
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

void CMessageDlg::AddDeviceEnded(AddressEntryResult result) {
    query_.join();  // it has ended: this call is its last act
    ok_.setEnabled(true);
    cancel_.setEnabled(true);
    if (result == AddressEntryResult::Added) {
        result_ = 0;
        accept();
        return;
    }
    const MessageKey message = AddressEntryMessage(result);
    messenger_(ToQ(texts_.ReadLayoutText(message.Section, message.Key, message.Default)));
}

void CMessageDlg::Cancel() { reject(); }

void CMessageDlg::reject() {
    if (query_.joinable()) return;
    result_ = -1;
    QDialog::reject();
}
