#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// What the command-line tool may do on the user's terminal: the readable views are for
// a person at a terminal only; a pipe or --json keeps the JSON lines.

// True when standard output is a terminal and the command was not asked for --json.
bool UseTerminalView(bool jsonWanted);

// Colours only on a terminal, never with NO_COLOR set (whatever its value) or TERM=dumb.
bool ColourWanted();

// The terminal's width in columns (80 when it cannot be told).
int TerminalColumns();

// A device's text made safe to show: broken UTF-8 becomes U+FFFD and control characters
// (which could move the cursor or change the terminal) are dropped.
std::string Printable(std::string_view text);

// `text` cut to at most `columns` characters, so that a line never wraps.
std::string FitColumns(std::string_view text, int columns);

// The number of characters `text` takes (UTF-8 code points).
int TextColumns(std::string_view text);

// `text` padded with blanks, or cut, to exactly `columns` characters.
std::string PadColumns(std::string_view text, int columns);

// Select Graphic Rendition sequences, empty without colour.
struct Paint {
    bool Colour = false;
    std::string operator()(std::string_view text, const char* sgr) const;
};
constexpr const char* kGreen = "32";
constexpr const char* kRed = "1;31";
constexpr const char* kCyan = "36";
constexpr const char* kDim = "2";
constexpr const char* kBold = "1";
