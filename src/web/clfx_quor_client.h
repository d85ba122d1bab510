#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/curl_easy.h"

namespace CLFX {

// A small synchronous HTTP client for an NVR's web interface. Unlike the request
// operations of web_client.h it keeps one connection open across requests, sends its
// own user agent, never follows redirects (a 302 is seen and judged) and carries extra
// request headers. Plain HTTP unless SetTls asks for HTTPS (the device's own
// certificate accepted as it comes). One thread at a time; each caller makes its own.
// Order of use: SetTimeout, SetTls, Connect, AddHeader..., Login or Request..., Close.
class CLFXQuorClient {
public:
    // Far beyond any log-in page; an NVR that streams more is cut off.
    static constexpr size_t kReplyLimit = 1024 * 1024;

    CLFXQuorClient() = default;
    virtual ~CLFXQuorClient() = default;
    CLFXQuorClient(const CLFXQuorClient&) = delete;
    CLFXQuorClient& operator=(const CLFXQuorClient&) = delete;

    // Queues a header line (no line end) for the next request only; false.
    virtual bool AddHeader(const std::string& line);
    // A proxy for the following connection (none by default); false.
    virtual bool SetProxy(const std::string& name, const std::string& user,
                          const std::string& password);
    // Connect and stall limit of every request; 0: no limit. False.
    virtual bool SetTimeout(uint32_t ms);
    // HTTPS for the following connection instead of HTTP.
    void SetTls(bool tls) { tls_ = tls; }
    // Prepares the connection to host:port (made at the first request); true even when
    // it could not be prepared, in which case every request answers status 0.
    virtual bool Connect(const std::string& host, int port);
    // Posts the log-in form; true when the NVR accepted the user name and password,
    // that is answered 302 or 200 with "index.htm" (any case) in the redirect target or
    // the page. `withClientName` picks the form that names this program.
    virtual bool Login(const std::string& user, const std::string& password, bool withClientName);
    // One request on the kept connection; the HTTP status, 0 when no answer came,
    // rc::kAnswerTooLarge when the body passed kReplyLimit (the transfer is cut there).
    // `reply`: the redirect target for 302, the body (each piece up to a zero byte) for
    // 200, else empty. Non-empty `user` sends Basic credentials.
    virtual int Request(const std::string& verb, const std::string& path, const std::string& body,
                        std::string& reply, const std::string& user, const std::string& password);
    // Drops the connection; false.
    virtual bool Close();
    // Puts an IPv6 literal (a host with ':') in square brackets; true when it did.
    virtual bool BracketHost(std::string& host);
    // libcurl's text for the last failed request; empty after a good one.
    virtual std::string GetErrorText();

private:
    CurlEasy handle_;
    std::string baseUrl_;
    std::string proxyName_;
    std::string proxyUser_;
    std::string proxyPassword_;
    std::vector<std::string> headers_;
    uint32_t timeoutMs_ = 0;
    bool tls_ = false;
    std::string errorText_;
};

}  // namespace CLFX
