#include "web/ws_security.h"

#include <openssl/evp.h>

#include <array>

#include "base/base64.h"
#include "base/random_bytes.h"
#include "base/text.h"

std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password) {
    std::string material;
    material.reserve(nonce.size() + created.size() + password.size());
    material.append(nonce).append(created).append(password);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(material.data(), material.size(), digest.data(), &length, EVP_sha1(), nullptr) !=
        1) {
        return std::string();
    }
    return EncodeBase64(std::string_view(reinterpret_cast<const char*>(digest.data()), length));
}

std::string XsDateTimeUtc(int64_t unixSeconds) {
    // Civil date from days since 1970 (proleptic Gregorian).
    int64_t days = unixSeconds / 86400;
    int64_t secondOfDay = unixSeconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return StrFormat("%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                     static_cast<long long>(month), static_cast<long long>(day),
                     static_cast<long long>(secondOfDay / 3600),
                     static_cast<long long>(secondOfDay / 60 % 60),
                     static_cast<long long>(secondOfDay % 60));
}

UsernameToken MakeUsernameToken(const std::string& user, const std::string& password,
                                int64_t deviceUnixSeconds) {
    std::array<unsigned char, wss::kNonceBytes> nonce{};
    FillRandom(nonce);
    const std::string_view raw(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    UsernameToken token;
    token.Username = user;
    token.Created = XsDateTimeUtc(deviceUnixSeconds);
    token.Nonce = EncodeBase64(raw);
    token.PasswordDigest = PasswordDigest(raw, token.Created, password);
    return token;
}
