#pragma once

#include <chrono>
#include <functional>

#include "web/curl_easy.h"

// Runs the requests of one exchange with a device (several requests on one kept
// connection) within one time budget, and ends them as soon as a cancel check says so:
// a device that answers without end, or a byte a second, cannot hold the caller longer
// than the budget, and a stop (a signal, the user's Cancel) ends the exchange within
// kCheckEvery. The stall and size limits of each request stay the caller's.
class BoundedExchange {
public:
    static constexpr std::chrono::milliseconds kCheckEvery{100};

    // `cancelled` may be empty; otherwise it is called from the calling thread.
    BoundedExchange(std::chrono::milliseconds budget, std::function<bool()> cancelled);
    ~BoundedExchange();
    BoundedExchange(const BoundedExchange&) = delete;
    BoundedExchange& operator=(const BoundedExchange&) = delete;

    // The handle to set each request up on; null when libcurl is out of memory.
    CURL* Handle() const { return easy_.get(); }

    // Runs the request set up on Handle(). libcurl's own outcome, or
    // CURLE_OPERATION_TIMEDOUT once the budget is spent, or CURLE_ABORTED_BY_CALLBACK
    // once cancelled (then Cancelled() is true).
    CURLcode Perform();

    bool Cancelled() const { return cancelled_; }
    bool OverBudget() const { return overBudget_; }

private:
    CurlEasy easy_;
    CURLM* multi_ = nullptr;  // keeps the connection between the requests
    std::chrono::steady_clock::time_point deadline_;
    std::function<bool()> cancelCheck_;
    bool cancelled_ = false;
    bool overBudget_ = false;
};
