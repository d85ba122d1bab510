#include "base/clock.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

Clock::Clock(double timeScale)
    : scale_(timeScale > 0 ? timeScale : 1.0), start_(std::chrono::steady_clock::now()) {}

int64_t Clock::NowMs() const {
    auto real = std::chrono::steady_clock::now() - start_;
    double ms = std::chrono::duration<double, std::milli>(real).count() * scale_;
    return static_cast<int64_t>(ms);
}

int64_t Clock::UnixSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t Clock::WallSecondsFor(int64_t scaledSeconds) const {
    if (scaledSeconds <= 0) return 0;
    return static_cast<int64_t>(std::ceil(static_cast<double>(scaledSeconds) / scale_));
}

std::chrono::nanoseconds Clock::RealFor(int64_t scaledMs) const {
    if (scaledMs <= 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(static_cast<int64_t>(scaledMs * 1e6 / scale_));
}

void Clock::SleepMs(int64_t ms) const { std::this_thread::sleep_for(RealFor(ms)); }

bool Clock::SleepMs(int64_t ms, std::stop_token stop) const {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    return !cv.wait_for(lock, stop, RealFor(ms), [] { return false; }) && !stop.stop_requested();
}
