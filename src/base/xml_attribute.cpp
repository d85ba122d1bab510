#include "base/xml_attribute.h"

#include "base/utf16.h"

std::string XmlAttributeText(std::string_view text) {
    const std::string valid = ToValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size(); ++i) {
        const char c = valid[i];
        // U+FFFE and U+FFFF, whose UTF-8 forms are EF BF BE and EF BF BF.
        if (c == '\xEF' && valid.compare(i + 1, 1, "\xBF") == 0 && i + 2 < valid.size() &&
            (valid[i + 2] == '\xBE' || valid[i + 2] == '\xBF')) {
            i += 2;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                // Other control characters have no place in an XML 1.0 document.
                if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    return out;
}
