#include "app/cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::vector<int> ShareColumns(std::vector<int> wanted, int room, int least) {
    int total = 0;
    for (int w : wanted) total += w;
    while (total > room && !wanted.empty()) {
        auto widest = std::max_element(wanted.begin(), wanted.end());
        if (*widest <= least) break;
        --*widest;
        --total;
    }
    return wanted;
}

void PrintError(std::string_view line) {
    const std::string text = Printable(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string Paint::operator()(std::string_view text, const char* sgr) const {
    if (!Colour) return std::string(text);
    return "\x1b[" + std::string(sgr) + "m" + std::string(text) + "\x1b[0m";
}
