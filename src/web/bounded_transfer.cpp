#include "web/bounded_transfer.h"

#include <algorithm>

BoundedExchange::BoundedExchange(std::chrono::milliseconds budget, std::function<bool()> cancelled)
    : easy_(NewCurlEasy()),
      multi_(curl_multi_init()),
      deadline_(std::chrono::steady_clock::now() + budget),
      cancelCheck_(std::move(cancelled)) {}

BoundedExchange::~BoundedExchange() {
    // The easy handle goes after the multi handle that may still know it.
    if (multi_) curl_multi_cleanup(multi_);
}

CURLcode BoundedExchange::Perform() {
    if (!easy_ || !multi_) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi_, easy_.get()) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (cancelCheck_ && cancelCheck_()) {
            cancelled_ = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline_ - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            overBudget_ = true;
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        const int wait = static_cast<int>(std::min(remaining, kCheckEvery).count());
        curl_multi_poll(multi_, nullptr, 0, std::max(wait, 1), nullptr);
    }
    curl_multi_remove_handle(multi_, easy_.get());
    return result;
}
