#include "pipeline/return_watch.h"

#include <cctype>

ReturnWatch::ReturnWatch(std::string versionBefore, std::string leftAt)
    : before_(std::move(versionBefore)), leftAt_(std::move(leftAt)) {}

void ReturnWatch::Unanswered() {
    if (!returned_) away_ = true;
}

void ReturnWatch::Answered(const std::string& version) {
    if (away_ || (!version.empty() && !before_.empty() && version != before_)) returned_ = true;
    if (returned_ && !version.empty()) after_ = version;
}

void ReturnWatch::Reported(TimePoint now) {
    if (away_) returned_ = true;
    reported_ = true;
    lastReport_ = now;
}

void ReturnWatch::ReportedAt(TimePoint now, const std::string& address) {
    Reported(now);
    if (!leftAt_.empty() && !address.empty() && address != leftAt_) SeenElsewhere(address);
}

void ReturnWatch::Looked(TimePoint now) {
    if (!returned_ && reported_ && now - lastReport_ >= kSearchSilence) away_ = true;
}

void ReturnWatch::SeenElsewhere(const std::string& address) {
    away_ = true;
    returned_ = true;
    newAddress_ = address;
}

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
