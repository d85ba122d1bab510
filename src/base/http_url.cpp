#include "base/http_url.h"

#include <algorithm>
#include <cctype>

#include "base/text.h"

namespace {

// Letters, digits and the punctuation of names and IPv4/IPv6 literals; anything else
// (blanks, quotes, '@', '%') makes the address unusable.
bool IsHostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
           c == ':';
}

}  // namespace

std::string HttpUrl::Text() const {
    return Scheme + "://" + Host + ":" + std::to_string(Port) + Path;
}

std::optional<HttpUrl> ParseHttpUrl(std::string_view text) {
    const size_t separator = text.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    HttpUrl url;
    url.Scheme = ToLowerAscii(text.substr(0, separator));
    if (url.Scheme != "http" && url.Scheme != "https") return std::nullopt;
    std::string_view rest = text.substr(separator + 3);
    const size_t pathAt = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, pathAt);
    url.Path = pathAt == std::string_view::npos ? "/" : std::string(rest.substr(pathAt));
    if (!url.Path.empty() && url.Path.front() != '/') url.Path.insert(0, "/");
    // A fragment is never sent.
    if (size_t hash = url.Path.find('#'); hash != std::string::npos) url.Path.resize(hash);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        url.Host = std::string(authority.substr(0, close + 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return std::nullopt;
        if (!after.empty()) portText = after.substr(1);
        if (url.Host.size() < 3) return std::nullopt;
    } else {
        const size_t colon = authority.find(':');
        url.Host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
        if (url.Host.find(':') != std::string::npos) return std::nullopt;
    }
    if (url.Host.empty() || !std::all_of(url.Host.begin(), url.Host.end(), [](char c) {
            return IsHostCharacter(c) || c == '[' || c == ']';
        })) {
        return std::nullopt;
    }
    if (portText.empty()) {
        url.Port = url.Https() ? 443 : 80;
    } else {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            return std::nullopt;
        }
        url.Port = static_cast<int>(ParseDecimal(portText));
        if (url.Port < 1 || url.Port > 65535) return std::nullopt;
    }
    return url;
}

bool IsLoopbackOrLinkLocal(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string lower = ToLowerAscii(host);
    if (lower.find(':') != std::string::npos) {
        // fe80::/10 covers fe80 to febf.
        return lower == "::1" || (lower.size() >= 4 && lower.compare(0, 2, "fe") == 0 &&
                                  std::string_view("89ab").find(lower[2]) != std::string::npos);
    }
    return StartsWith(lower, "127.") || StartsWith(lower, "169.254.");
}
