// The messages that name a file the program could not use: a settings file it cannot
// read, an upgrade history it cannot add an outcome to.
#include <QMetaObject>
#include <QPushButton>

#include "ui/main_window.h"
#include "ui/qt_text.h"

void CMainWindow::SayFileProblem(const char* key, const char* def, const std::string& file,
                                 const std::string& reason) {
    if (problemBox_) return;
    const QString text =
        ToQ(texts_->ReadLayoutText("UI_PopupMessage", key, def)).arg(ToQ(file), ToQ(reason));
    problemBox_ = new QMessageBox(QMessageBox::NoIcon,
                                  ToQ(texts_->ReadLayoutText("Main", "Caption", "Strelvane")), text,
                                  QMessageBox::Ok, this);
    problemBox_->setObjectName(key);
    problemBox_->button(QMessageBox::Ok)->setText(ToQ(texts_->ReadLayoutText("Main", "Ok", "OK")));
    problemBox_->setAttribute(Qt::WA_DeleteOnClose);
    problemBox_->open();  // the program goes on while it is shown
}

HistoryProblem CMainWindow::HistoryProblemHandler() {
    return [this](const std::string& file, const std::string& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, file, reason] {
                SayFileProblem("HistoryNotRecorded",
                               "An upgrade outcome could not be recorded in the history %1 (%2). "
                               "The upgrade itself is not affected.",
                               file, reason);
            },
            Qt::QueuedConnection);
    };
}
