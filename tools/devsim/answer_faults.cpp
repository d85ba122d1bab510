#include "answer_faults.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr int kDefaultStallMs = 60000;
constexpr size_t kSliceBytes = 16384;

}  // namespace

bool ParseFaultNumber(const std::string& name, const std::string& text, int64_t& out,
                      std::string& error) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    if (ec != std::errc() || ptr != end || out < 0) {
        error = "fault '" + name + "' needs a number, got '" + text + "'";
        return false;
    }
    return true;
}

const std::vector<std::string>& AnswerFaultNames() {
    static const std::vector<std::string> names = {"http_status",    "delay",      "drop_mid_body",
                                                   "stall_mid_body", "rate_limit", "endless_body"};
    return names;
}

bool ReadAnswerFaults(const std::map<std::string, std::string>& faults, AnswerFaults& out,
                      std::string& error) {
    out = AnswerFaults();
    for (const auto& [name, value] : faults) {
        int64_t number = 0;
        const bool given = !value.empty();
        if (name == "http_status") {
            if (!ParseFaultNumber(name, value, number, error)) return false;
            if (number < 100 || number > 599) {
                error = "fault 'http_status' needs a status code, got '" + value + "'";
                return false;
            }
            out.FixedStatus = static_cast<int>(number);
        } else if (name == "delay") {
            if (!ParseFaultNumber(name, value, number, error)) return false;
            out.DelayMs = static_cast<int>(number);
        } else if (name == "drop_mid_body") {
            if (given && !ParseFaultNumber(name, value, number, error)) return false;
            out.Drop = true;
            out.DropAfter = given ? number : -1;
        } else if (name == "stall_mid_body") {
            if (given && !ParseFaultNumber(name, value, number, error)) return false;
            out.StallMs = given ? static_cast<int>(number) : kDefaultStallMs;
        } else if (name == "rate_limit") {
            if (!ParseFaultNumber(name, value, number, error)) return false;
            if (number == 0) {
                error = "fault 'rate_limit' needs a positive rate";
                return false;
            }
            out.BytesPerSecond = number;
        } else if (name == "endless_body") {
            out.Endless = true;
        }
    }
    return true;
}

void WaitUnlessStopping(int64_t ms, const std::atomic<bool>& stopping) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::min<int64_t>(20, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      until - std::chrono::steady_clock::now())
                                          .count() +
                                      1)));
    }
}

void InstallAnswerFaults(httplib::Server& server, const AnswerFaults& faults,
                         const std::atomic<bool>& stopping, std::function<bool()> away) {
    server.set_pre_routing_handler(
        [&faults, &stopping, away](const httplib::Request& req, httplib::Response& res) {
            if (away && away()) {
                res.status = 503;
                res.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            }
            // httplib has parsed these for its own use; the request object is ours to
            // change before routing, and a device serves neither on its own.
            auto& request = const_cast<httplib::Request&>(req);
            request.ranges.clear();
            request.headers.erase("Accept-Encoding");
            if (faults.DelayMs > 0) WaitUnlessStopping(faults.DelayMs, stopping);
            if (faults.FixedStatus == 0) return httplib::Server::HandlerResponse::Unhandled;
            res.status = faults.FixedStatus;
            res.set_content("<html><body>" + std::to_string(faults.FixedStatus) + "</body></html>",
                            "text/html");
            return httplib::Server::HandlerResponse::Handled;
        });
}

void ServeBody(httplib::Response& res, BodyReader reader, int64_t offset, int64_t length,
               const std::string& contentType, const AnswerFaults& faults,
               const std::atomic<bool>& stopping) {
    if (length == 0) {
        res.set_content(std::string(), contentType);
        return;
    }
    if (faults.Endless) {
        // Chunked, with no length: the body goes on for as long as anyone reads it.
        res.set_chunked_content_provider(
            contentType, [=, &faults, &stopping](size_t sent, httplib::DataSink& sink) {
                if (stopping) return false;
                int64_t slice = kSliceBytes;
                if (faults.BytesPerSecond > 0) {
                    slice = std::max<int64_t>(1, std::min(slice, faults.BytesPerSecond / 10));
                    std::this_thread::sleep_for(
                        std::chrono::microseconds(slice * 1000000 / faults.BytesPerSecond));
                }
                std::string buffer(static_cast<size_t>(slice), '\0');
                for (int64_t i = 0; i < slice; ++i) {
                    const int64_t at = offset + static_cast<int64_t>(sent + i) % length;
                    if (reader(at, &buffer[static_cast<size_t>(i)], 1) == 0) return false;
                }
                return sink.write(buffer.data(), buffer.size());
            });
        return;
    }
    const int64_t dropAt = !faults.Drop            ? -1
                           : faults.DropAfter >= 0 ? faults.DropAfter
                                                   : length / 2;
    const int64_t stallAt = faults.StallMs > 0 ? length / 2 : -1;
    auto stalled = std::make_shared<bool>(false);
    res.set_content_provider(
        static_cast<size_t>(length), contentType,
        [=, &faults, &stopping](size_t sent, size_t, httplib::DataSink& sink) {
            const auto at = static_cast<int64_t>(sent);
            if (dropAt >= 0 && at >= dropAt) return false;
            if (stallAt >= 0 && at >= stallAt && !*stalled) {
                *stalled = true;
                WaitUnlessStopping(faults.StallMs, stopping);
            }
            if (stopping) return false;
            int64_t slice = std::min<int64_t>(kSliceBytes, length - at);
            if (dropAt >= 0) slice = std::min(slice, dropAt - at);
            if (stallAt >= 0 && !*stalled) slice = std::min(slice, stallAt - at);
            if (faults.BytesPerSecond > 0) {
                // Ten slices a second keep a slow rate steady rather than bursty.
                slice = std::max<int64_t>(1, std::min(slice, faults.BytesPerSecond / 10));
                std::this_thread::sleep_for(
                    std::chrono::microseconds(slice * 1000000 / faults.BytesPerSecond));
            }
            std::string buffer(static_cast<size_t>(slice), '\0');
            const size_t got = reader(offset + at, buffer.data(), buffer.size());
            if (got == 0) return false;
            return sink.write(buffer.data(), got);
        });
}

void ServeText(httplib::Response& res, const std::string& text, const std::string& contentType,
               const AnswerFaults& faults, const std::atomic<bool>& stopping) {
    auto held = std::make_shared<std::string>(text);
    ServeBody(
        res,
        [held](int64_t offset, char* out, size_t max) {
            const size_t from = static_cast<size_t>(offset);
            if (from >= held->size()) return size_t{0};
            const size_t count = std::min(max, held->size() - from);
            std::copy_n(held->data() + from, count, out);
            return count;
        },
        0, static_cast<int64_t>(text.size()), contentType, faults, stopping);
}
