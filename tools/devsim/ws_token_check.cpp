#include "ws_token_check.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kNoncesKept = 1024;
constexpr const char* kDigestType =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0"
    "#PasswordDigest";

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

// Nothing for text that is not Base64 of whole bytes.
bool FromBase64(const std::string& text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    out.assign(text.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return false;
    size_t length = static_cast<size_t>(n);
    for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && length > 0; --i) --length;
    out.resize(length);
    return true;
}

std::string Sha1Base64(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr);
    return Base64(std::string(reinterpret_cast<char*>(digest), length));
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

std::string LocalPart(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? std::string(colon + 1) : std::string(name);
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& parent, const char* localName) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && LocalPart(child.name()) == localName)
            return child;
    }
    return pugi::xml_node();
}

bool HasSecurityHeader(const pugi::xml_node& envelope) {
    return ChildByLocalName(ChildByLocalName(envelope, "Header"), "Security");
}

bool ParseUtcDateTime(const std::string& text, int64_t& seconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                    &second, &used) != 6 ||
        used != 19) {
        return false;
    }
    size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    }
    if (at + 1 != text.size() || text[at] != 'Z') return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

UsernameTokenCheck::UsernameTokenCheck(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {}

std::string UsernameTokenCheck::Check(const pugi::xml_node& envelope, int64_t deviceNow) {
    const pugi::xml_node token = ChildByLocalName(
        ChildByLocalName(ChildByLocalName(envelope, "Header"), "Security"), "UsernameToken");
    if (!token) return "no UsernameToken";
    const std::string user = ChildByLocalName(token, "Username").child_value();
    const pugi::xml_node password = ChildByLocalName(token, "Password");
    const std::string nonceText = ChildByLocalName(token, "Nonce").child_value();
    const std::string created = ChildByLocalName(token, "Created").child_value();
    if (std::string(password.attribute("Type").value()) != kDigestType) {
        return "the password is not a PasswordDigest";
    }
    std::string nonce;
    if (!FromBase64(nonceText, nonce) || nonce.size() < 8)
        return "no Base64 nonce of 8 bytes or more";
    int64_t createdAt = 0;
    if (!ParseUtcDateTime(created, createdAt)) return "Created '" + created + "' is no UTC time";
    if (std::abs(createdAt - deviceNow) > kMaxSkewSeconds) {
        return "Created " + created + " is " + std::to_string(createdAt - deviceNow) +
               " s from the device's clock";
    }
    if (user != user_ || Sha1Base64(nonce + created + password_) != password.child_value()) {
        return "wrong user name or password";
    }
    std::lock_guard lock(mutex_);
    if (std::find(nonces_.begin(), nonces_.end(), nonceText) != nonces_.end()) {
        return "nonce used before";
    }
    nonces_.push_back(nonceText);
    if (nonces_.size() > kNoncesKept) nonces_.pop_front();
    return std::string();
}
