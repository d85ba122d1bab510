#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/terminal_text.h"

// What the command-line tool may do on the user's terminal: the readable views are for
// a person at a terminal only; a pipe or --json keeps the JSON lines.

// True when standard output is a terminal and the command was not asked for --json.
bool UseTerminalView(bool jsonWanted);

// Colours only on a terminal, never with NO_COLOR set (whatever its value) or TERM=dumb.
bool ColourWanted();

// The terminal's width in columns (80 when it cannot be told).
int TerminalColumns();

// The widths of a table's columns on a line `room` columns wide: each column as wide as
// it wants while they all fit; otherwise the widest gives way, one column at a time, down
// to `least` (a column that wants less keeps what it wants).
std::vector<int> ShareColumns(std::vector<int> wanted, int room, int least);

// Writes `line` and a line end to standard error, cleaned by Printable: messages name
// devices, files and arguments, any of which may hold what a terminal would act upon.
void PrintError(std::string_view line);

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
