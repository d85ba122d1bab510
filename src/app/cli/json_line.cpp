#include "app/cli/json_line.h"

#include <cstdio>

#include "base/terminal_text.h"
#include "base/utf16.h"

namespace {

// \uXXXX, as a pair of surrogates beyond the first plane.
void AppendUnicodeEscape(std::string& out, char32_t c) {
    char buffer[16];
    if (c < 0x10000) {
        std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
    } else {
        const char32_t v = c - 0x10000;
        std::snprintf(buffer, sizeof buffer, "\\u%04x\\u%04x",
                      static_cast<unsigned>(0xD800 + (v >> 10)),
                      static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    }
    out += buffer;
}

}  // namespace

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    // JSON readers refuse malformed UTF-8 (device names come from the network).
    const std::string valid = ToValidUtf8(text);
    for (size_t pos = 0; pos < valid.size();) {
        const size_t start = pos;
        const char32_t c = NextCodePoint(valid, pos);
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
                // Escaped, not dropped: the line keeps the text whole for its reader, and a
                // terminal it is shown on sees no control or hidden character.
                if (IsHiddenCharacter(c)) {
                    AppendUnicodeEscape(out, c);
                } else {
                    out.append(valid, start, pos - start);
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
