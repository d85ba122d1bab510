#pragma once

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/server_proxy.h"

// The libcurl plumbing shared by every HTTP exchange of the program: one global set-up,
// owned handles, the options every request sets, and the mapping of libcurl's outcome
// to the program's result codes.

// Runs curl_global_init once per process, whichever thread asks first, and ignores
// SIGPIPE: a device that drops the connection must not end the program.
void EnsureCurlReady();

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// A new easy handle (after EnsureCurlReady); null only when libcurl is out of memory.
CurlEasy NewCurlEasy();

struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlListDeleter>;

void AppendHeader(CurlHeaderList& list, const std::string& line);

// Sets what every request sets: no signals, the connect time-out, certificates accepted
// as they come (devices carry self-signed, expired or misnamed ones), no redirects, and
// the proxy choice: the proxy environment variables when `useSystemProxy`, else direct.
void ApplyCommonOptions(CURL* handle, int timeoutMs, bool useSystemProxy);

// The set proxy in place of the environment's (with its log-in, sent up front); nothing
// for a null proxy or one without an address.
void ApplyServerProxy(CURL* handle, const ServerProxy* proxy);

// For a handle kept across transfers: drops what the last transfer pointed at (headers,
// body, sinks, progress watch), so that the handle keeps no pointers to a caller's locals.
void ForgetTransferLocals(CURL* handle);

// Sends the user name and password when the server asks (Basic or Digest). Nothing is
// set when both are empty.
void ApplyCredentials(CURL* handle, const std::string& user, const std::string& password);

// A receive/send time-out in the socket sense: the transfer fails when no byte moves
// for the time-out, however long a steady transfer takes in total. libcurl's own
// low-speed check averages over several seconds, so it is done here through the
// progress callback. A time-out of 0 sets no limit. `abortCheck`, when set, ends the
// transfer as soon as it says so.
class StallWatch {
public:
    StallWatch(int timeoutMs, std::function<bool()> abortCheck = {});

    // Installs the progress callback on `handle`; the watch must outlive the transfer.
    void Attach(CURL* handle);
    // Starts the clock again (before each transfer on a reused handle).
    void Restart();
    // Notes that bytes moved.
    void Touch();

    bool Stalled() const { return stalled_; }
    bool Aborted() const { return aborted_; }

private:
    static int OnProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);

    std::chrono::milliseconds limit_;
    std::function<bool()> abortCheck_;
    std::chrono::steady_clock::time_point lastMove_;
    curl_off_t lastDown_ = 0;
    curl_off_t lastUp_ = 0;
    bool stalled_ = false;
    bool aborted_ = false;
};

// The header fields of the answer being received. libcurl passes every answer of an
// exchange (a 401 challenge, then the real answer) through the same callback, so the
// fields start afresh at each status line. Notes each header line to `watch`. A head
// longer than kMaxHeadBytes ends the transfer, so an endless head cannot fill memory.
class AnswerHeaders {
public:
    static constexpr size_t kMaxHeadBytes = 256 * 1024;

    explicit AnswerHeaders(StallWatch& watch) : watch_(watch) {}

    // One line of the head as libcurl hands it over; false once the head is too long.
    bool TakeLine(std::string_view line);

    // Installs the header callback on `handle`; must outlive the transfer.
    void Attach(CURL* handle);
    void Clear() { fields_.clear(); }
    // The value of the first field named `name` (any case), blanks trimmed; empty if none.
    std::string Value(const std::string& name) const;

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);

    StallWatch& watch_;
    std::vector<std::pair<std::string, std::string>> fields_;
    size_t headBytes_ = 0;
};

// The result code of a failed transfer. `detailedNetErrors` false folds name and
// connection failures into -1 (what the plain text GET reports).
int ResultFromCurl(CURLcode code, bool stalled, bool detailedNetErrors);

// The result code of an HTTP status that was not accepted: 404 -101, 401 -301, else -1.
int ResultFromStatus(long status);

// Percent-encodes `text` for a URL query or a form value; letters, digits and "-._~"
// stay as they are.
std::string PercentEncode(const std::string& text);
