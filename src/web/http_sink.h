#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "web/server_proxy.h"

// Where the body of an HTTP answer goes. HttpFetch and HttpPostForm hand it over chunk
// by chunk; `target` is the caller's text: for a text sink the string that receives the
// body, for a file sink the file's path. A sink serves one call at a time.
class CMyHTTP {
public:
    virtual ~CMyHTTP() = default;

    // True: the request uses the proxy environment variables; false: it goes direct.
    virtual bool UseSystemProxy() = 0;
    // With UseSystemProxy: the proxy set for the firmware server; null, or one without an
    // address, leaves it to the environment.
    virtual const ServerProxy* Proxy() { return nullptr; }
    // A body of `contentLength` bytes (0 when the answer gave none) is about to arrive.
    virtual void BeginBody(std::string& target, int64_t contentLength) = 0;
    virtual void WriteBody(const char* data, size_t count) = 0;
    // The body is complete (or the transfer was stopped by the sink's own flags).
    virtual void EndBody(std::string& target) = 0;
    // After each chunk: its size and the bytes still to come of this answer.
    virtual void ReportProgress(int received, int remaining) = 0;
    // How many body bytes are already held, and the full size; 0 and 0: start afresh.
    virtual void GetResumePoint(const std::string& target, int64_t& have, int64_t& total) = 0;
    virtual bool IsCancelled() = 0;
    virtual bool CanContinue() = 0;
    // Called once, just before the first chunk; starts the progress clock.
    virtual bool StartTiming() = 0;

    // The server sent the whole body although part of it was held (a 200 to a ranged
    // request): forget the held bytes so the body is not appended after its own start.
    virtual void DropResumePoint(const std::string& target) = 0;
    // The transfer failed after BeginBody: release what BeginBody took. Bytes already
    // written stay, so the next request resumes after them.
    virtual void AbortBody(const std::string& target) = 0;
};
