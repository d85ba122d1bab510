#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// When a search sends its request again. A busy switch drops a datagram now and then,
// and a device whose request or reply was lost stays hidden unless the request goes out
// again, so every search sends kMinSends times, kSpacing apart, within the one
// listening window. It goes on sending, up to kMaxSends, while the replies show losses
// large enough that a device may still be hidden: every device found should have
// answered every request, so the share of requests that found devices left unanswered
// estimates the loss, and (found devices) x loss^(requests sent) the devices still
// hidden. On a clean network that is zero after the first sends.
//
// Plain data for one search on one thread; any multicast search (with its own notion
// of a device key) can use it.
class RepeatSchedule {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr int kMinSends = 3;
    static constexpr int kMaxSends = 16;
    static constexpr std::chrono::milliseconds kSpacing{250};
    // Sending stops once fewer devices than this are expected still hidden.
    static constexpr double kHiddenTarget = 1e-4;

    // The first request is due at `start`.
    explicit RepeatSchedule(TimePoint start);

    // When the next request is due; nothing once no more are to be sent.
    std::optional<TimePoint> NextSend() const;
    // The request went out (on every adapter) at `now`.
    void Sent(TimePoint now);
    // A reply came from the device `key` (for example its address); it answers the
    // latest request sent.
    void Replied(const std::string& key);

    int Sends() const { return sends_; }
    // The loss estimated from the replies to every request but the last (whose replies
    // may still be on their way), 0 to 1. A reply that comes after the next request
    // counts for that one: late replies read as losses, which sends more, never fewer.
    double EstimatedLoss() const;
    // Devices expected still hidden after the requests sent so far.
    double ExpectedHidden() const;

private:
    TimePoint start_;
    TimePoint lastSend_;
    int sends_ = 0;
    std::map<std::string, uint32_t> answered_;  // per device, bit n: request n+1
};
