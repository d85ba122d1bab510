#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// WS-Security UsernameToken with a password digest, as ONVIF devices check it: the
// digest is Base64(SHA-1(nonce bytes + Created + password)), and Created must be near
// the device's own clock (devices turn away a few minutes of skew).
namespace wss {
constexpr const char* kSecurityNs =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char* kUtilityNs =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char* kPasswordDigestType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0"
    "#PasswordDigest";
constexpr const char* kBase64EncodingType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0"
    "#Base64Binary";
constexpr size_t kNonceBytes = 16;
}  // namespace wss

struct UsernameToken {
    std::string Username;
    std::string PasswordDigest;  // Base64
    std::string Nonce;           // Base64 of the nonce bytes
    std::string Created;         // "YYYY-MM-DDThh:mm:ssZ"
};

// Base64(SHA-1(nonce + created + password)).
std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password);

// `unixSeconds` as an xs:dateTime in UTC ("2026-12-09T01:02:03Z").
std::string XsDateTimeUtc(int64_t unixSeconds);

// A token with a fresh random nonce, created at `deviceUnixSeconds`: the device's clock,
// not ours.
UsernameToken MakeUsernameToken(const std::string& user, const std::string& password,
                                int64_t deviceUnixSeconds);
