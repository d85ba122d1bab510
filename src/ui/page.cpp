#include "ui/page.h"

#include <QLabel>
#include <QPainter>

#include "layout/layout_language.h"
#include "layout/layout_texts.h"
#include "ui/list_ctrl.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

void ApplyControlStyle(QWidget& control, const ControlStyle& style, std::string_view key) {
    // All four zero: the control keeps its own size (and place).
    if (style.Left != 0 || style.Top != 0 || style.Width != 0 || style.Height != 0) {
        control.setGeometry(style.Left, style.Top, style.Width, style.Height);
    }
    control.setFont(skin::ControlFont(style.FaceName, style.FontSize, style.Bold));
    control.setObjectName(ToQ(key));
    // A label's name would replace its text for a screen reader: labels keep their text.
    if (!qobject_cast<QLabel*>(&control)) control.setAccessibleName(ToQ(key));
}

CPage::CPage(IMainFrame& frame, std::string section, QWidget* parent)
    : QWidget(parent),
      frame_(frame),
      section_(std::move(section)),
      styleSection_(section_ + ".Style") {
    messenger_ = ModalMessenger(*this, frame_.Texts());
}

ControlStyle CPage::Place(QWidget& control, std::string_view key, std::string_view def) {
    ControlStyle style = frame_.Texts().ReadControlStyle(styleSection_, key, def);
    ApplyControlStyle(control, style, key);
    return style;
}

QString CPage::Text(std::string_view section, std::string_view key, std::string_view def) {
    return ToQ(frame_.Texts().ReadLayoutText(section, key, def));
}

QString CPage::PageText(std::string_view key, std::string_view def) {
    return Text(section_, key, def);
}

void CPage::PlaceLists(QFrame& place, std::string_view key,
                       std::initializer_list<CBasicListCtrl*> lists) {
    Place(place, key, "");
    const QString face = ToQ(FontFaceName(frame_.Texts().FontChoice()));
    for (CBasicListCtrl* list : lists) list->SetFonts(face);
}

bool CPage::Say(std::string_view section, std::string_view key, std::string_view def,
                bool question) {
    return messenger_(Text(section, key, def), question);
}

void CPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::PaintPage(painter, rect());
}
