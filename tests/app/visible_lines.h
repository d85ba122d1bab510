#pragma once

#include <string>
#include <vector>

#include "base/text.h"

// The lines a person sees of what the command line wrote to a terminal: without the
// program's own cursor moves, line clearing and colours (CSI sequences), and without the
// lines these leave empty.
inline std::vector<std::string> VisibleLines(const std::string& output) {
    std::vector<std::string> lines;
    for (std::string line : SplitAny(output, "\r\n")) {
        for (size_t at; (at = line.find("\x1b[")) != std::string::npos;) {
            const size_t end = line.find_first_of("ABCDHJKm", at + 2);
            line.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        }
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}
