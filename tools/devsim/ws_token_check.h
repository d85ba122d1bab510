#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

// What a camera that logs clients in with WS-UsernameToken checks of a request's
// Security header: the user name, a password digest (Base64(SHA-1(nonce + Created +
// password))), a Created time within kMaxSkewSeconds of its own clock, and a nonce it
// has not seen before.
class UsernameTokenCheck {
public:
    static constexpr int64_t kMaxSkewSeconds = 300;

    UsernameTokenCheck(std::string user, std::string password);

    // Empty when `envelope` carries a valid token for a device whose clock reads
    // `deviceNow` (seconds since 1970); otherwise why it does not.
    std::string Check(const pugi::xml_node& envelope, int64_t deviceNow);

private:
    std::string user_;
    std::string password_;
    std::mutex mutex_;
    std::deque<std::string> nonces_;  // recently used, newest last
};

// True when the envelope carries a WS-Security header at all.
bool HasSecurityHeader(const pugi::xml_node& envelope);

// Seconds since 1970 of an xs:dateTime in UTC ("2026-01-02T03:04:05Z", with an optional
// fraction); false for any other form.
bool ParseUtcDateTime(const std::string& text, int64_t& seconds);

// The local name of a qualified XML name ("s:Body" -> "Body").
std::string LocalPart(const char* name);

// The first child element with this local name.
pugi::xml_node ChildByLocalName(const pugi::xml_node& parent, const char* localName);
