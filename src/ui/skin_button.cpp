#include "ui/skin_button.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/skin.h"

CSkinButton::CSkinButton(Kind kind, QWidget* parent) : QAbstractButton(parent), kind_(kind) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(kind == Kind::Push ? Qt::StrongFocus : Qt::TabFocus);
}

void CSkinButton::SetCurrent(bool current) {
    if (current_ == current) return;
    current_ = current;
    update();
}

CSkinButton::Look CSkinButton::CurrentLook() const {
    if (!isEnabled()) return Look::Disabled;
    if (current_ || isDown() || isChecked()) return Look::Selected;
    return hovered_ ? Look::Hover : Look::Rest;
}

QSize CSkinButton::sizeHint() const {
    if (kind_ == Kind::Close || kind_ == Kind::Minimise) return {30, 26};
    const QSize text = fontMetrics().size(Qt::TextSingleLine, this->text());
    return {text.width() + 32, text.height() + 14};
}

void CSkinButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Look look = CurrentLook();
    switch (kind_) {
        case Kind::Push:
            PaintPush(painter, look);
            break;
        case Kind::Tab:
            PaintTab(painter, look);
            break;
        case Kind::Close:
        case Kind::Minimise:
            PaintWindowButton(painter, look);
            break;
    }
}

void CSkinButton::PaintPush(QPainter& painter, Look look) {
    QColor fill = skin::kAccent;
    QColor text = Qt::white;
    if (look == Look::Hover) fill = skin::kAccentHover;
    if (look == Look::Selected) fill = skin::kAccentDown;
    if (look == Look::Disabled) {
        fill = skin::kDisabledFill;
        text = skin::kDisabledText;
    }
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 5, 5);
    if (hasFocus()) {
        painter.setPen(QPen(QColor(0xFF, 0xC8, 0x3D), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), 4, 4);
    }
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, this->text());
}

void CSkinButton::PaintTab(QPainter& painter, Look look) {
    // Tabs rise from the title band; the selected one takes the body colour, so it
    // reads as the front sheet of the page below it.
    QColor fill(0xFF, 0xFF, 0xFF, 28);
    QColor text(0xE8, 0xEE, 0xF7);
    if (look == Look::Hover) fill = QColor(0xFF, 0xFF, 0xFF, 60);
    if (look == Look::Selected) {
        fill = skin::kBody;
        text = skin::kCaption;
    }
    if (look == Look::Disabled) {
        fill = QColor(0xFF, 0xFF, 0xFF, 12);
        text = QColor(0x9A, 0xAC, 0xC4);
    }
    QPainterPath shape;
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, 8);  // rounded at the top only
    shape.addRoundedRect(r, 8, 8);
    painter.setClipRect(rect());
    painter.fillPath(shape, fill);
    if (look == Look::Selected) {
        painter.fillRect(QRect(0, height() - 3, width(), 3), skin::kAccent);
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(0xFF, 0xC8, 0x3D), 2));
        painter.drawPath(shape);
    }
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, this->text());
}

void CSkinButton::PaintWindowButton(QPainter& painter, Look look) {
    QColor fill = Qt::transparent;
    if (look == Look::Hover) {
        fill = kind_ == Kind::Close ? QColor(0xC4, 0x2B, 0x1C) : QColor(0xFF, 0xFF, 0xFF, 50);
    }
    if (look == Look::Selected) {
        fill = kind_ == Kind::Close ? QColor(0x96, 0x1E, 0x12) : QColor(0xFF, 0xFF, 0xFF, 90);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    const QColor glyph = look == Look::Disabled ? QColor(0x9A, 0xAC, 0xC4) : QColor(Qt::white);
    painter.setPen(QPen(glyph, 1.8, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = QRectF(rect()).center();
    const qreal s = qMin(width(), height()) * 0.2;
    if (kind_ == Kind::Close) {
        painter.drawLine(c + QPointF(-s, -s), c + QPointF(s, s));
        painter.drawLine(c + QPointF(-s, s), c + QPointF(s, -s));
    } else {
        painter.drawLine(c + QPointF(-s, s * 0.6), c + QPointF(s, s * 0.6));
    }
}
