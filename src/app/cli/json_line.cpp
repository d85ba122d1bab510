#include "app/cli/json_line.h"

#include <cstdio>

#include "base/utf16.h"

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    // JSON readers refuse malformed UTF-8 (device names come from the network).
    for (char c : ToValidUtf8(text)) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void JsonLine::Key(std::string_view key) {
    if (body_.size() > 1) body_ += ',';
    body_ += '"';
    body_ += JsonEscape(key);
    body_ += "\":";
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value) {
    Key(key);
    body_ += '"';
    body_ += JsonEscape(value);
    body_ += '"';
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}
