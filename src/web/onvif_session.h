#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "web/curl_easy.h"
#include "web/soap_envelope.h"

// How a session logs in to the device service.
enum class OnvifAuth : uint8_t {
    Unknown,        // not settled yet: requests go out without credentials first
    Digest,         // HTTP Digest (the device challenged and took it)
    UsernameToken,  // WS-UsernameToken in the SOAP header, no HTTP authentication
};

// Bounds of every request of a session, whatever the device does: each ends by Deadline
// and as soon as Cancelled (which may be empty) says so.
struct OnvifBounds {
    std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
    std::function<bool()> Cancelled;
    // The connect time-out of each request; 0: the session's time-out.
    int ConnectTimeoutMs = 0;
};

// Talks to one device's ONVIF device service on the calling thread. A request goes out
// without credentials first; a device that answers with an HTTP Digest challenge is
// logged in to with HTTP Digest, one that refuses otherwise (a 401 without a Digest
// challenge, or a ter:NotAuthorized fault) with a WS-UsernameToken created in the
// device's own clock, which the session reads (GetSystemDateAndTime, no credentials)
// before the first token. The way that worked is kept for the next requests. Never
// sends both at once. A device that refuses what worked before (its
// firmware changed, or it lost its clock in a restart) gets one fresh round of both.
//
// The service's addresses are tried in order until one answers at all; that one is
// used from then on.
class COnvifSession {
public:
    COnvifSession(std::vector<std::string> addresses, std::string user, std::string password,
                  int timeoutMs);

    // Calls an operation without parameters ("GetDeviceInformation"). 0 with the
    // operation's response in answer.Payload; -304 when every way of logging in was
    // refused; -2, -7, -8 or -1 when no address answered; -101 for HTTP 404; -20 for an
    // answer beyond soap::kMaxAnswerBytes; -2 past the bounds' deadline, -6 once they
    // say cancelled; -1 for any other status, a fault, or an
    // answer that is not the operation's response.
    int Call(std::string_view operation, SoapAnswer& answer);

    // Reads the device's clock without credentials and keeps its offset from ours; 0 or
    // the code of the request.
    int MeasureClock();

    // Forgets the way of logging in and the clock (the device restarted).
    void Forget();

    // Puts `address` first among the addresses to try (the device was found there).
    void PreferAddress(const std::string& address);

    // The time-out of the requests to come (connect, and no byte moving).
    void SetTimeout(int timeoutMs) { timeoutMs_ = timeoutMs; }
    // Bounds the requests to come: past the deadline they end -2, once cancelled -6.
    void Bound(OnvifBounds bounds) { bounds_ = std::move(bounds); }

    const std::string& Address() const { return addresses_.at(current_); }
    // Whether the last Call's last request got an HTTP answer at all (any status).
    bool LastAnswered() const { return lastAnswered_; }
    OnvifAuth Auth() const { return auth_; }
    // Seconds the device's clock is ahead of ours.
    int64_t ClockOffsetSeconds() const { return clockOffset_; }

private:
    enum class Login { None, Digest, Token };
    struct Exchange {
        int Code = 0;  // 0: an HTTP answer came (Status), else the transfer's code
        long Status = 0;
        bool DigestOffered = false;  // the last 401 carried a Digest challenge
        bool Parsed = false;         // the body is a SOAP envelope
    };

    // One POST of the operation with `login` to the current address, falling back to
    // the next addresses while none answers.
    Exchange Send(std::string_view operation, Login login, SoapAnswer& answer);
    Exchange SendOnce(const std::string& url, const std::string& body, Login login,
                      SoapAnswer& answer);
    // Refused: the credentials were turned down, or the device wants another login.
    static bool Refused(const Exchange& e, const SoapAnswer& answer);
    int Result(const Exchange& e, std::string_view operation, const SoapAnswer& answer) const;
    int CallWith(std::string_view operation, Login login, SoapAnswer& answer, Exchange& e);
    // The bounds' verdict now: 0 while requests may go, else -6 or -2.
    int Ended() const;

    std::vector<std::string> addresses_;
    size_t current_ = 0;
    std::string user_;
    std::string password_;
    int timeoutMs_;
    OnvifBounds bounds_;
    OnvifAuth auth_ = OnvifAuth::Unknown;
    bool clockKnown_ = false;
    bool lastAnswered_ = false;
    int64_t clockOffset_ = 0;
    CurlEasy handle_;
};

// The UTC time a GetSystemDateAndTime response names, in seconds since 1970; false when
// it names none or an impossible one.
bool DeviceUtcSeconds(const pugi::xml_node& response, int64_t& seconds);
