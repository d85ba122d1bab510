#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <initializer_list>
#include <string_view>

class QFrame;
class QPainter;
class QWidget;

// The program's own look: a deep blue title band over a light body, white page cards,
// blue controls. Drawn with QPainter in device-independent pixels, so it stays sharp
// at any screen scaling. High contrast throughout: every text colour reaches 4.5:1 or
// more against the surface it is drawn on.
namespace skin {

// Caption colour of group boxes and page labels (the layout's 0x682E12 as RGB).
inline const QColor kCaption{0x12, 0x2E, 0x68};
inline const QColor kWarning{0xC0, 0x00, 0x00};
inline const QColor kBandTop{0x0E, 0x2A, 0x52};
inline const QColor kBandBottom{0x1B, 0x4B, 0x86};
inline const QColor kBody{0xE9, 0xEE, 0xF5};
inline const QColor kCard{0xFF, 0xFF, 0xFF};
inline const QColor kCardBorder{0xC3, 0xCD, 0xDB};
inline const QColor kAccent{0x1B, 0x5F, 0xAA};
inline const QColor kAccentHover{0x23, 0x74, 0xCC};
inline const QColor kAccentDown{0x12, 0x45, 0x80};
inline const QColor kDisabledFill{0xB8, 0xC2, 0xD0};
inline const QColor kDisabledText{0x55, 0x5F, 0x6D};
inline const QColor kText{0x1A, 0x1F, 0x29};
inline const QColor kFooterText{0x4A, 0x55, 0x68};

constexpr int kWindowWidth = 970;
constexpr int kWindowHeight = 620;
constexpr int kCornerRadius = 9;  // 18 x 18 corners
// Where the pages sit in the window, and their size.
constexpr QRect kPageRect{40, 122, 890, 462};
// The height of the title band, which the tabs sit on.
constexpr int kBandHeight = 122;

// The window: title band, body, rounded outline.
void PaintWindow(QPainter& painter, const QRect& rect);
// A page: a white card with a thin border.
void PaintPage(QPainter& painter, const QRect& rect);

// The program's icon, drawn at `size` pixels.
QPixmap AppIcon(int size);

// Sets the text colour of a label (or any control that draws its text in WindowText).
void SetTextColour(QWidget& widget, const QColor& colour);
// The place where a page shows its lists, one at a time: a white panel with the card
// border, which the lists fill.
void MakeListPlace(QFrame& frame, std::initializer_list<QWidget*> lists);

// The font of a skinned control: the face, and the size in points at 96 dots per inch
// (the layout files' unit) as pixels; 0 keeps the default size.
QFont ControlFont(std::string_view face, int points, bool bold);

}  // namespace skin
