#include "ui/page_support.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "layout/layout_texts.h"
#include "pipeline/image_file.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"

namespace {

QString Caption(CLayoutTexts& texts) {
    return ToQ(texts.ReadLayoutText("Main", "Caption", "Strelvane"));
}

QMessageBox* OpenBox(QWidget& parent, CLayoutTexts& texts, const QString& name, const QString& text,
                     QMessageBox::StandardButtons buttons) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, Caption(texts), text, buttons, &parent);
    box->setObjectName(name);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->setText(ToQ(texts.ReadLayoutText("Main", "Ok", "OK")));
    }
    if (QAbstractButton* cancel = box->button(QMessageBox::Cancel)) {
        cancel->setText(ToQ(texts.ReadLayoutText("Main", "Cancel", "Cancel")));
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

}  // namespace

Messenger ModalMessenger(QWidget& parent, CLayoutTexts& texts) {
    return [&parent, &texts](const QString& text, bool question) {
        if (!question) {
            QMessageBox::information(&parent, Caption(texts), text);
            return true;
        }
        return QMessageBox::question(&parent, Caption(texts), text) == QMessageBox::Yes;
    };
}

void ShowOkBox(QWidget& parent, CLayoutTexts& texts, const QString& name, const QString& text) {
    OpenBox(parent, texts, name, text, QMessageBox::Ok);
}

void AskWithoutWaiting(QWidget& parent, CLayoutTexts& texts, const QString& name,
                       const QString& text, std::function<void(bool ok)> answered) {
    // OK and Cancel: the layout files name them in every language.
    QMessageBox* box = OpenBox(parent, texts, name, text, QMessageBox::Ok | QMessageBox::Cancel);
    QObject::connect(box, &QMessageBox::finished, box,
                     [answered = std::move(answered)](int r) { answered(r == QMessageBox::Ok); });
}

FileChooser FirmwareFileChooser(QWidget& parent) {
    return [&parent](const QString& start) {
        return QFileDialog::getOpenFileName(&parent, QString(), start,
                                            "Firmware image(*.bin *.img)");
    };
}

FolderChooser ModalFolderChooser(QWidget& parent) {
    return [&parent] { return QFileDialog::getExistingDirectory(&parent); };
}

FileChooser InventoryFileChooser(QWidget& parent) {
    return [&parent](const QString& start) {
        return QFileDialog::getSaveFileName(&parent, QString(), start,
                                            "CSV (*.csv);;HTML (*.html)");
    };
}

bool AcceptFirmwareImage(const QString& path, CLayoutTexts& texts, const Messenger& say) {
    if (IsFirmwareImage(ToStd(path))) return true;
    say(ToQ(texts.ReadLayoutText("ErrorCode", "Code_406",
                                 "Failed! Please check the firmware file.")),
        false);
    return false;
}

PopupRunner ModalPopupRunner() {
    return [](CMessageDlg& popup) {
        popup.exec();
        return popup.Result();
    };
}

QString SaveFailedText(CLayoutTexts& texts, const QString& why) {
    const QString text =
        ToQ(texts.ReadLayoutText("SchedulePage", "SaveFailed", "The schedule could not be saved."));
    return why.isEmpty() ? text : text + "\n" + why;
}

void OpenDevicePage(const std::string& url) { QDesktopServices::openUrl(QUrl(ToQ(url))); }
