#pragma once

#include <QColor>
#include <QWidget>

// A group box drawn in the skin: a rounded frame with its caption set into the top edge,
// in the caption colour (or another, such as the schedule page's red warning).
class CSkinGroupBox : public QWidget {
    Q_OBJECT
public:
    explicit CSkinGroupBox(QWidget* parent = nullptr);

    void SetCaption(const QString& caption, const QColor& colour);
    QString Caption() const { return caption_; }
    QColor CaptionColour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QColor colour_;
};
