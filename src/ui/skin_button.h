#pragma once

#include <QAbstractButton>

// A button drawn by the program in one of four looks: at rest, under the mouse, pressed
// (or selected) and disabled. A tab that shows the current page keeps its selected
// look at rest and under the mouse, so the current tab always looks selected.
class CSkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Push, Tab, Close, Minimise };

    explicit CSkinButton(Kind kind, QWidget* parent = nullptr);

    void SetCurrent(bool current);
    bool IsCurrent() const { return current_; }

    enum class Look { Rest, Hover, Selected, Disabled };
    Look CurrentLook() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void PaintPush(QPainter& painter, Look look);
    void PaintTab(QPainter& painter, Look look);
    void PaintWindowButton(QPainter& painter, Look look);

    const Kind kind_;
    bool current_ = false;
    bool hovered_ = false;
};
