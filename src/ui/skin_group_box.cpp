#include "ui/skin_group_box.h"

#include <QPainter>

#include "ui/skin.h"

CSkinGroupBox::CSkinGroupBox(QWidget* parent) : QWidget(parent), colour_(skin::kCaption) {
    // Only the frame is drawn here; clicks fall through to the page (and drag the window).
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CSkinGroupBox::SetCaption(const QString& caption, const QColor& colour) {
    caption_ = caption;
    colour_ = colour;
    setAccessibleDescription(caption);
    update();
}

void CSkinGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRectF frame = QRectF(rect()).adjusted(0.5, top + 0.5, -0.5, -0.5);
    painter.setPen(QPen(skin::kCardBorder, 1));
    painter.setBrush(QColor(0xF6, 0xF8, 0xFB));
    painter.drawRoundedRect(frame, 6, 6);
    if (caption_.isEmpty()) return;
    const int margin = 12;
    // The advance is rounded down: a caption given exactly that width is elided.
    const int textWidth = qMin(metrics.horizontalAdvance(caption_) + 1, width() - 2 * margin - 8);
    QRect textRect(margin, 0, textWidth + 8, metrics.height());
    if (layoutDirection() == Qt::RightToLeft) textRect.moveRight(width() - margin);
    painter.fillRect(textRect, skin::kCard);
    painter.setPen(colour_);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine,
                     metrics.elidedText(caption_, Qt::ElideRight, textWidth));
}
