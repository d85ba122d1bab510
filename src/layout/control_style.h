#pragma once

#include <string>
#include <string_view>

// Position, size, font and text of one skinned control, from a layout file's style
// section ("Main.Style") and text section ("Main").
struct ControlStyle {
    int Left = 0;
    int Top = 0;
    int Width = 0;  // all four 0: the control keeps the size of its bitmap
    int Height = 0;
    bool Bold = false;
    int FontSize = 0;  // points
    std::string FaceName;
    std::string Text;
};

// Fills position and font from a style value "left,top,width,height,bold,size,face":
// missing or non-numeric numbers read 0, a missing face is empty, and with the font
// choice Arial the face is always "Arial". Leaves Text alone.
void ParseControlStyle(std::string_view value, int fontChoice, ControlStyle& style);

// The text section that belongs to a style section: its name up to the first '.'.
std::string_view TextSectionOf(std::string_view styleSection);
