#include "http_auth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <map>

namespace {

constexpr const char* kRealm = "Quorlent";
constexpr size_t kNoncesKept = 256;

std::string Hex(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string DecodeBase64(const std::string& text) {
    std::string out(text.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return std::string();
    size_t length = static_cast<size_t>(n);
    // EVP_DecodeBlock counts the padding as zero bytes.
    for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && length > 0; --i) --length;
    out.resize(length);
    return out;
}

// The key="value" or key=value pairs of a Digest authorization.
std::map<std::string, std::string> DigestFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
        const size_t eq = text.find('=', i);
        if (eq == std::string::npos) break;
        std::string key = text.substr(i, eq - i);
        std::string value;
        i = eq + 1;
        if (i < text.size() && text[i] == '"') {
            const size_t close = text.find('"', i + 1);
            if (close == std::string::npos) break;
            value = text.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const size_t comma = text.find(',', i);
            value = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
            i = comma == std::string::npos ? text.size() : comma;
        }
        fields[key] = value;
    }
    return fields;
}

}  // namespace

std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    return Hex(digest, length);
}

DeviceAuth::DeviceAuth(Scheme scheme, std::string user, std::string password)
    : scheme_(scheme), user_(std::move(user)), password_(std::move(password)) {}

bool DeviceAuth::Check(const httplib::Request& req, httplib::Response& res, bool refuseAll) {
    const std::string value = req.get_header_value("Authorization");
    bool ok = false;
    if (scheme_ == Scheme::Basic && value.rfind("Basic ", 0) == 0) {
        ok = CheckBasic(value.substr(6));
    } else if (scheme_ == Scheme::Digest && value.rfind("Digest ", 0) == 0) {
        ok = CheckDigest(req, value.substr(7));
    }
    if (ok && !refuseAll) return true;
    res.status = 401;
    if (scheme_ == Scheme::Basic) {
        res.set_header("WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\"");
    } else {
        res.set_header("WWW-Authenticate", std::string("Digest realm=\"") + kRealm +
                                               "\", qop=\"auth\", algorithm=MD5, nonce=\"" +
                                               NewNonce() + "\"");
    }
    res.set_content("<html><body>401 Unauthorized</body></html>", "text/html");
    return false;
}

bool DeviceAuth::CheckBasic(const std::string& value) const {
    return DecodeBase64(value) == user_ + ":" + password_;
}

bool DeviceAuth::CheckDigest(const httplib::Request& req, const std::string& value) {
    auto f = DigestFields(value);
    {
        std::lock_guard lock(mutex_);
        if (std::find(nonces_.begin(), nonces_.end(), f["nonce"]) == nonces_.end()) return false;
    }
    if (f["username"] != user_ || f["realm"] != kRealm || f["uri"] != req.target) return false;
    if (f.count("algorithm") && f["algorithm"] != "MD5") return false;
    const std::string ha1 = Md5Hex(user_ + ":" + kRealm + ":" + password_);
    const std::string ha2 = Md5Hex(req.method + ":" + f["uri"]);
    const std::string expected =
        f["qop"] == "auth"
            ? Md5Hex(ha1 + ":" + f["nonce"] + ":" + f["nc"] + ":" + f["cnonce"] + ":auth:" + ha2)
            : Md5Hex(ha1 + ":" + f["nonce"] + ":" + ha2);
    return f["response"] == expected;
}

std::string DeviceAuth::NewNonce() {
    unsigned char random[16];
    RAND_bytes(random, sizeof(random));
    std::string nonce = Hex(random, sizeof(random));
    std::lock_guard lock(mutex_);
    nonces_.push_back(nonce);
    if (nonces_.size() > kNoncesKept) nonces_.pop_front();
    return nonce;
}
