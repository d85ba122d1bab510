#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>

// The one source of time for deliberate waits (reboot countdowns, retry pauses,
// scheduler ticks). A time scale above 1 makes those waits pass faster: the lab and
// the tests run a six-minute reboot wait in well under a second. Network time-outs
// never go through this clock; they stay real.
class Clock {
public:
    explicit Clock(double timeScale = 1.0);

    double TimeScale() const { return scale_; }

    // Scaled monotonic milliseconds since the clock was made.
    int64_t NowMs() const;

    // Wall-clock seconds since 1970-01-01 00:00 UTC, read at every call, at every scale:
    // a planned time is a moment of the user's day, the same to every part of the
    // program, and a machine that slept or had its clock set is at the real time.
    int64_t UnixSeconds() const;
    // The wall-clock seconds a deliberate wait of `scaledSeconds` takes (rounded up): what
    // an estimate compares with UnixSeconds.
    int64_t WallSecondsFor(int64_t scaledSeconds) const;

    // Waits `ms` scaled milliseconds.
    void SleepMs(int64_t ms) const;

    // Waits `ms` scaled milliseconds or until a stop is requested; false when stopped.
    bool SleepMs(int64_t ms, std::stop_token stop) const;

private:
    std::chrono::nanoseconds RealFor(int64_t scaledMs) const;

    double scale_;
    std::chrono::steady_clock::time_point start_;
};
