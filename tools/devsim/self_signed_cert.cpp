#include "self_signed_cert.h"

#include <openssl/err.h>

namespace {

std::string OpenSslError(const char* step) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    return std::string(step) + ": " + text;
}

}  // namespace

std::unique_ptr<SelfSignedCert> SelfSignedCert::Make(const std::string& commonName,
                                                     std::string& error) {
    std::unique_ptr<SelfSignedCert> made(new SelfSignedCert);
    made->key_ = EVP_EC_gen("P-256");
    if (!made->key_) {
        error = OpenSslError("key generation");
        return nullptr;
    }
    X509* cert = X509_new();
    made->cert_ = cert;
    if (!cert) {
        error = OpenSslError("certificate");
        return nullptr;
    }
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert, made->key_);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    if (X509_sign(cert, made->key_, EVP_sha256()) == 0) {
        error = OpenSslError("signing");
        return nullptr;
    }
    return made;
}

SelfSignedCert::~SelfSignedCert() {
    X509_free(cert_);
    EVP_PKEY_free(key_);
}
