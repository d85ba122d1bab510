#include "discovery/repeat_schedule.h"

#include <algorithm>
#include <cmath>

RepeatSchedule::RepeatSchedule(TimePoint start) : start_(start), lastSend_(start) {}

std::optional<RepeatSchedule::TimePoint> RepeatSchedule::NextSend() const {
    if (sends_ == 0) return start_;
    if (sends_ >= kMaxSends) return std::nullopt;
    if (sends_ >= kMinSends && ExpectedHidden() < kHiddenTarget) return std::nullopt;
    return lastSend_ + kSpacing;
}

void RepeatSchedule::Sent(TimePoint now) {
    ++sends_;
    lastSend_ = now;
}

void RepeatSchedule::Replied(const std::string& key) { ++replies_[key]; }

double RepeatSchedule::EstimatedLoss() const {
    const int closed = sends_ - 1;
    if (closed < 1 || replies_.empty()) return 0;
    // A device answering twice (a duplicate) must not hide another's loss: count at most
    // one reply per request.
    double answered = 0;
    for (const auto& [key, count] : replies_) answered += std::min(count, closed);
    const double asked = static_cast<double>(replies_.size()) * closed;
    return std::clamp(1.0 - answered / asked, 0.0, 1.0);
}

double RepeatSchedule::ExpectedHidden() const {
    const double loss = EstimatedLoss();
    if (loss <= 0) return 0;
    return static_cast<double>(replies_.size()) * std::pow(loss, sends_);
}
