#pragma once

#include <string>

// The value of `key` in a JSON line of strelvane-cli: a number, true/false, or a string
// without escapes (all the tests read); empty when the key is absent.
inline std::string JsonField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const size_t at = line.find(marker);
    if (at == std::string::npos) return {};
    const size_t start = at + marker.size();
    if (start < line.size() && line[start] == '"') {
        return line.substr(start + 1, line.find('"', start + 1) - start - 1);
    }
    return line.substr(start, line.find_first_of(",}", start) - start);
}
