#include "discovery/repeat_schedule.h"

#include <algorithm>
#include <bit>
#include <cmath>

static_assert(RepeatSchedule::kMaxSends <= 32, "one bit per request");

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

void RepeatSchedule::Replied(const std::string& key) {
    uint32_t& answered = answered_[key];
    if (sends_ > 0) answered |= uint32_t{1} << (sends_ - 1);
}

double RepeatSchedule::EstimatedLoss() const {
    const int closed = sends_ - 1;
    if (closed < 1 || answered_.empty()) return 0;
    // A duplicate reply sets the same bit: it cannot hide another request's loss.
    const uint32_t closedRequests = (uint32_t{1} << closed) - 1;
    double answers = 0;
    for (const auto& [key, answered] : answered_)
        answers += std::popcount(answered & closedRequests);
    const double asked = static_cast<double>(answered_.size()) * closed;
    return std::clamp(1.0 - answers / asked, 0.0, 1.0);
}

double RepeatSchedule::ExpectedHidden() const {
    const double loss = EstimatedLoss();
    if (loss <= 0) return 0;
    return static_cast<double>(answered_.size()) * std::pow(loss, sends_);
}
