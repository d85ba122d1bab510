#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

// A private key and a self-signed certificate made in memory when devsim starts, as a
// camera makes its own: nothing is read from or written to disk. One identity serves
// every simulated HTTPS server; the servers take their own references.
class SelfSignedCert {
public:
    // Nothing, with the reason in `error`, when OpenSSL fails.
    static std::unique_ptr<SelfSignedCert> Make(const std::string& commonName, std::string& error);
    ~SelfSignedCert();
    SelfSignedCert(const SelfSignedCert&) = delete;
    SelfSignedCert& operator=(const SelfSignedCert&) = delete;

    X509* Cert() const { return cert_; }
    EVP_PKEY* Key() const { return key_; }

private:
    SelfSignedCert() = default;

    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
};
