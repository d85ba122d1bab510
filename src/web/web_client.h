#pragma once

#include <string>

#include "web/http_sink.h"

// The three request operations every exchange with a camera, an NVR or the firmware
// server goes through (apart from the NVR session and the firmware uploads). Each call
// is self-contained: its own connection, no state kept. Blocking; call them on worker
// threads. `timeoutMs` is the connect time-out and the longest time no byte may move;
// a steady transfer may take longer. Results: 0 success; -1 other failure or HTTP
// status; -2 time-out; -6 the sink cancelled; -7 name not resolved; -8 no connection;
// -9 the sink cannot continue; -101 HTTP 404; -301 HTTP 401.

// GET; only status 200 counts. `out` receives the first 102400 bytes of the body as text
// (up to the first zero byte); it is left alone on failure. It asks devices, so it
// always goes direct, whatever proxy the environment names. Name and connection
// failures come back as -1.
int HttpGetText(const std::string& user, const std::string& password, const std::string& url,
                int timeoutMs, std::string& out);

// POST with an empty body; status 200 or 206. The body goes to `sink` for `target`. A
// sink holding part of the body makes this a "Range: bytes=N-" request; a sink that
// already holds it all returns 0 at once.
int HttpFetch(CMyHTTP& sink, const std::string& user, const std::string& password,
              const std::string& url, int timeoutMs, std::string& target);

// POST of `form` (UTF-8, application/x-www-form-urlencoded); status 200 or 206. The body
// goes to `sink` for `target`. The sink's flags decide the result last: cancelled gives
// -6, cannot continue -9 (over -6).
int HttpPostForm(CMyHTTP& sink, const std::string& user, const std::string& password,
                 const std::string& url, const std::string& form, int timeoutMs,
                 std::string& target);
