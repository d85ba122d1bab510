#pragma once

#include <string>
#include <string_view>

// Texts the program did not write itself (a device's name or MAC address, a firmware
// server's series, a hand-edited file's fields) on their way to a terminal or to a line
// of the trace log, and the room they take on a terminal's screen.
//
// Printable is the one cleaning every such text goes through: standard error lines, the
// command line's tables and progress view, a report printed to a terminal, trace lines.
// A device that puts escape sequences into its name could otherwise retitle the window,
// clear the screen or hide text, a carriage return could overwrite the start of a line,
// and a bidirectional override could make a line read other than it is.

// True for a character a terminal acts upon or shows as nothing: the C0 and C1 controls
// and DEL, the bidirectional marks, embeddings, overrides and isolates, the zero-width and
// other invisible format characters, the line and paragraph separators and the tag
// characters.
bool IsHiddenCharacter(char32_t c);

// `text` safe to show on one line: malformed UTF-8 becomes U+FFFD; escape and control
// sequences (ESC or CSI with their parameters, OSC, DCS, APC, PM and SOS strings to
// their end) are removed whole; a run of line breaks or tabs becomes one blank; every
// other hidden character is dropped.
std::string Printable(std::string_view text);

// The columns a character takes on a terminal: 2 for East Asian wide and full-width
// characters, 0 for combining marks, otherwise 1. The C library's wcwidth under a UTF-8
// locale of its own, whatever the user's locale is (when the system has no UTF-8 locale
// at all, EstimatedColumns).
int CharColumns(char32_t c);
// The same from a small table of the wide and combining ranges.
int EstimatedColumns(char32_t c);

// The columns `text` takes (meant for Printable text).
int TextColumns(std::string_view text);

// `text` cut to at most `columns` columns, ending in "…" when it was cut; a character is
// never split.
std::string FitColumns(std::string_view text, int columns);

// `text` fitted to `columns` and padded with blanks to exactly that many.
std::string PadColumns(std::string_view text, int columns);
