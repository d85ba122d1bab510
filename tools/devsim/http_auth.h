#pragma once

#include <httplib.h>

#include <deque>
#include <mutex>
#include <string>

// HTTP authentication as the devices demand it: Basic (the default) or Digest (RFC
// 7616 with MD5 and qop "auth"). Checks what a device checks: user name, password,
// realm, a nonce it issued and the request target.
class DeviceAuth {
public:
    enum class Scheme { Basic, Digest };

    DeviceAuth(Scheme scheme, std::string user, std::string password);

    // True when the request carries the device's credentials. Otherwise `res` becomes
    // a 401 with the challenge. `refuseAll` turns every credential down.
    bool Check(const httplib::Request& req, httplib::Response& res, bool refuseAll);

private:
    bool CheckBasic(const std::string& value) const;
    bool CheckDigest(const httplib::Request& req, const std::string& value);
    std::string NewNonce();

    Scheme scheme_;
    std::string user_;
    std::string password_;
    std::mutex mutex_;
    std::deque<std::string> nonces_;  // issued, newest last
};

// Lower-case hex MD5 of `text`.
std::string Md5Hex(const std::string& text);
