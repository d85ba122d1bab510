#pragma once

#include <QMetaObject>
#include <QWidget>
#include <atomic>
#include <string>
#include <string_view>

#include "layout/control_style.h"
#include "ui/main_frame.h"
#include "ui/page_support.h"

class CBasicListCtrl;
class QFrame;

// One page of the main window. The main window creates it, places it, wires it to the
// services it needs and calls ReloadTexts when the language changes; the page reads
// every text and control style anew from the layout files then.
class CPage : public QWidget {
    Q_OBJECT
public:
    // `section` is the page's text section ("Upgrade1Page"); its styles live in
    // "<section>.Style".
    CPage(IMainFrame& frame, std::string section, QWidget* parent);

    virtual void ReloadTexts() = 0;

    // Where the page's messages and questions go (by default a modal message box).
    void SetMessenger(Messenger messenger) { messenger_ = std::move(messenger); }

protected:
    // Places `control` by its style record and gives it its font and its accessible name
    // (the key); returns the style with the control's text.
    ControlStyle Place(QWidget& control, std::string_view key, std::string_view def);
    // section/key of the layout file, else `def`.
    QString Text(std::string_view section, std::string_view key, std::string_view def);
    QString PageText(std::string_view key, std::string_view def);
    // Places the page's list place (made by skin::MakeListPlace) by its style `key`, and
    // gives its lists the face of the language.
    void PlaceLists(QFrame& place, std::string_view key,
                    std::initializer_list<CBasicListCtrl*> lists);
    // Tells the user section/key (else `def`) through the messenger; a question
    // answers Yes (true) or No.
    bool Say(std::string_view section, std::string_view key, std::string_view def,
             bool question = false);

    // Hands `call` from any thread to the user-interface thread; a call that arrives
    // after the page was detached is dropped.
    template <typename F>
    void OnGuiThread(F&& call) {
        QMetaObject::invokeMethod(
            this,
            [this, call = std::forward<F>(call)]() mutable {
                if (!detached_) call();
            },
            Qt::QueuedConnection);
    }
    // The services the page reports to are about to go (shut-down): calls still on
    // their way to this thread are dropped.
    void MarkDetached() { detached_ = true; }
    bool IsDetached() const { return detached_; }

    void paintEvent(QPaintEvent* event) override;

    IMainFrame& frame_;
    Messenger messenger_;

private:
    std::atomic<bool> detached_{false};
    const std::string section_;
    const std::string styleSection_;
};

inline QString ToQString(const ControlStyle& style) {
    return QString::fromUtf8(style.Text.data(), static_cast<qsizetype>(style.Text.size()));
}

// Applies a style record to any control: geometry when the record has one, the font
// (face and size when given), the object name and (but for labels) the accessible name,
// both the key.
void ApplyControlStyle(QWidget& control, const ControlStyle& style, std::string_view key);
