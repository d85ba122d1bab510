#include "device/mac_key.h"

#include <cctype>

std::string MacKey(const std::string& text) {
    std::string key;
    for (char c : text) {
        if (c == ':' || c == '-' || c == '.') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)) || key.size() == 12) return {};
        key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (key.size() != 12 || key == "000000000000" || key == "FFFFFFFFFFFF") return {};
    return key;
}

bool SameMac(const std::string& a, const std::string& b) {
    const std::string key = MacKey(a);
    return !key.empty() && key == MacKey(b);
}

bool NamesAnotherMac(const std::string& named, const std::string& awaited) {
    const std::string key = MacKey(named);
    const std::string other = MacKey(awaited);
    return !key.empty() && !other.empty() && key != other;
}
