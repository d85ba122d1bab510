#include "ui/skin.h"

#include <QFrame>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/qt_text.h"

namespace skin {

void PaintWindow(QPainter& painter, const QRect& rect) {
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
                           kCornerRadius);
    painter.fillPath(outline, kBody);
    painter.save();
    painter.setClipPath(outline);
    QLinearGradient band(0, rect.top(), 0, rect.top() + kBandHeight);
    band.setColorAt(0, kBandTop);
    band.setColorAt(1, kBandBottom);
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), kBandHeight), band);
    // A thin light line under the band, on which the selected tab stands.
    painter.fillRect(QRect(rect.left(), rect.top() + kBandHeight - 2, rect.width(), 2),
                     QColor(0xFF, 0xFF, 0xFF, 60));
    painter.restore();
    painter.setPen(QPen(kBandTop, 1));
    painter.drawPath(outline);
}

void PaintPage(QPainter& painter, const QRect& rect) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kCardBorder, 1));
    painter.setBrush(kCard);
    painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

QPixmap AppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient fill(0, 0, 0, s);
    fill.setColorAt(0, kBandBottom);
    fill.setColorAt(1, kBandTop);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.2, s * 0.2);
    // An arrow rising out of a tray: firmware going up into the device.
    painter.setBrush(Qt::white);
    QPolygonF arrow;
    arrow << QPointF(s * 0.5, s * 0.16) << QPointF(s * 0.76, s * 0.44)
          << QPointF(s * 0.59, s * 0.44) << QPointF(s * 0.59, s * 0.64)
          << QPointF(s * 0.41, s * 0.64) << QPointF(s * 0.41, s * 0.44)
          << QPointF(s * 0.24, s * 0.44);
    painter.drawPolygon(arrow);
    painter.setBrush(QColor(0xFF, 0xC8, 0x3D));
    painter.drawRoundedRect(QRectF(s * 0.22, s * 0.72, s * 0.56, s * 0.1), s * 0.04, s * 0.04);
    return pixmap;
}

void SetTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

void MakeListPlace(QFrame& frame, std::initializer_list<QWidget*> lists) {
    frame.setFrameShape(QFrame::StyledPanel);
    frame.setStyleSheet(QString("QFrame { background: %1; border: 1px solid %2; }")
                            .arg(kCard.name(), kCardBorder.name()));
    auto* layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(1, 1, 1, 1);
    for (QWidget* list : lists) layout->addWidget(list);
}

QFont ControlFont(std::string_view face, int points, bool bold) {
    QFont font;
    if (!face.empty()) font.setFamilies({ToQ(face)});
    if (points > 0) font.setPixelSize(points * 96 / 72);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

}  // namespace skin
