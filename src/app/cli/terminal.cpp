#include "app/cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/utf16.h"

bool UseTerminalView(bool jsonWanted) { return !jsonWanted && ::isatty(STDOUT_FILENO) == 1; }

bool ColourWanted() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr &&
           !(term && std::strcmp(term, "dumb") == 0);
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

namespace {

bool StartsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    const std::string valid = ToValidUtf8(text);
    for (size_t i = 0; i < valid.size(); ++i) {
        const auto c = static_cast<unsigned char>(valid[i]);
        if (c < 0x20 || c == 0x7F) continue;
        // U+0080 to U+009F, the C1 controls, are 0xC2 0x80 to 0xC2 0x9F.
        if (c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
            ++i;
            continue;
        }
        out += valid[i];
    }
    return out;
}

int TextColumns(std::string_view text) {
    int columns = 0;
    for (char c : text) columns += StartsCharacter(c) ? 1 : 0;
    return columns;
}

std::string FitColumns(std::string_view text, int columns) {
    int seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (StartsCharacter(text[i]) && ++seen > columns) return std::string(text.substr(0, i));
    }
    return std::string(text);
}

std::string PadColumns(std::string_view text, int columns) {
    std::string fitted = FitColumns(text, columns);
    fitted.append(static_cast<size_t>(columns - TextColumns(fitted)), ' ');
    return fitted;
}

std::string Paint::operator()(std::string_view text, const char* sgr) const {
    if (!Colour) return std::string(text);
    return "\x1b[" + std::string(sgr) + "m" + std::string(text) + "\x1b[0m";
}
