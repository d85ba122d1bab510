#include "pipeline/return_watch.h"

ReturnWatch::ReturnWatch(std::string versionBefore) : before_(std::move(versionBefore)) {}

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

void ReturnWatch::Looked(TimePoint now) {
    if (!returned_ && reported_ && now - lastReport_ >= kSearchSilence) away_ = true;
}

void ReturnWatch::SeenElsewhere(const std::string& address) {
    away_ = true;
    returned_ = true;
    newAddress_ = address;
}
